// The process entry.
#include "app/dialog.h"
#include "app/protection.h"
#include "identify/catalogue.h"

#include <windows.h>

// The tool reads nothing from its command line.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // Two tools at once would both share the queue, and the first to finish
    // would unshare it under the other's copy.
    if (!claimSingleInstance())
        return 0;
    // Nothing builds the catalogue later, and the discovery matches against
    // it as soon as the dialog's start message is handled.
    buildModelCatalogue();
    return runMainDialog(instance, showCommand);
}

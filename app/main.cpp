// The process entry.
#include "app/dialog.h"
#include "app/protection.h"
#include "base/system_libraries.h"
#include "identify/catalogue.h"

#include <windows.h>
#include <objbase.h>

namespace {

// The tool often runs as an administrator from the folder the firmware was
// unpacked in, often Downloads, where anyone can leave a DLL: the current
// folder leaves the DLL search of the whole process, and where Windows has
// SetDefaultDllDirectories (Windows 8 on, Windows 7 with KB2533623) a load
// by name searches the system folder only. The tool's own loads do not rely
// on this (system_libraries.cpp); it keeps loads made by Windows' code on the
// tool's behalf, such as shell extensions, out of the tool's folder too.
// Only while the device library's own code runs does the search take in the
// library's folder as well (LibraryFolderSearch, system_libraries.h).
void hardenProcess()
{
    SetDllDirectoryW(L"");
    auto *setDefaultDllDirectories =
        resolve<BOOL WINAPI(DWORD)>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

// The tool reads nothing from its command line.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    hardenProcess();
    // Two tools at once would both share the queue, and the first to finish
    // would unshare it under the other's copy.
    if (!claimSingleInstance())
        return 0;
    // ShellExecuteExW may hand the start to shell extensions, which need COM
    // on the calling thread; a failure leaves the start to work without.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // Nothing builds the catalogue later, and the discovery matches against
    // it as soon as the dialog's start message is handled.
    buildModelCatalogue();
    int exitCode = runMainDialog(instance, showCommand);
    if (SUCCEEDED(com))
        CoUninitialize();
    return exitCode;
}

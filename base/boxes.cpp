#include "base/boxes.h"

#include "base/state.h"
#include "base/wait.h"

int askUser(const WCHAR *text, const WCHAR *caption, UINT type)
{
    discardPendingInput();
    HWND owner = upgradeState.mainDialog;
    if (owner == nullptr || !IsWindow(owner)) {
        owner = nullptr;
        type |= MB_TASKMODAL | MB_SETFOREGROUND;
    }
    return MessageBoxW(owner, text, caption, type);
}

void tellUser(const WCHAR *text, const WCHAR *caption, UINT icon)
{
    askUser(text, caption, MB_OK | icon);
}

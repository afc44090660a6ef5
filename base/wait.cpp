#include "base/wait.h"

#include "base/state.h"

namespace {

// Passes one message on as the main loop would.
void dispatch(MSG &message)
{
    if (upgradeState.mainDialog && IsDialogMessageW(upgradeState.mainDialog, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

}  // namespace

WaitOutcome waitResponsive(HANDLE handle, DWORD milliseconds)
{
    const DWORD count = handle ? 1 : 0;
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    const bool endingBefore = runEnding();
    // Once the quit message has been seen the window is gone: nothing is left
    // to answer for, and the quit is kept for the main loop.
    bool quitSeen = false;
    WPARAM quitCode = 0;
    WaitOutcome outcome = WaitTimedOut;
    DWORD failure = 0;
    for (;;) {
        if (!endingBefore && runEnding()) {
            outcome = WaitStopped;
            break;
        }
        DWORD remaining = INFINITE;
        if (milliseconds != INFINITE) {
            ULONGLONG now = GetTickCount64();
            remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        DWORD result = MsgWaitForMultipleObjectsEx(count, &handle, remaining, quitSeen ? 0 : QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0 && count == 1) {
            outcome = WaitSignalled;
            break;
        }
        if (result == WAIT_TIMEOUT) {
            outcome = WaitTimedOut;
            break;
        }
        if (result != WAIT_OBJECT_0 + count) {
            failure = GetLastError();
            outcome = WaitFailed;
            break;
        }
        MSG message;
        while (!quitSeen && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitSeen = true;
                quitCode = message.wParam;
            } else {
                dispatch(message);
            }
        }
    }
    if (quitSeen)
        PostQuitMessage(static_cast<int>(quitCode));
    if (outcome == WaitFailed)
        SetLastError(failure);
    return outcome;
}

void reportStall()
{
    SendMessageW(upgradeState.mainDialog, stallMessage, 0, 0);
}

void reportStallOver()
{
    SendMessageW(upgradeState.mainDialog, stallOverMessage, 0, 0);
}

void discardPendingInput()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE) ||
           PeekMessageW(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE) ||
           PeekMessageW(&message, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) {
        // A filtered peek hands out the quit message too; it belongs to the
        // main loop.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
    }
}

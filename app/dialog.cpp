// The main dialog: one modeless window that carries the whole run, and the
// message loop that drives it.
#include "app/dialog.h"

#include "app/ending.h"
#include "app/messages.h"
#include "app/phase.h"
#include "app/resources/resource.h"
#include "app/sequence.h"
#include "base/boxes.h"
#include "base/state.h"
#include "base/system_libraries.h"
#include "base/text.h"
#include "base/wait.h"
#include "delivery/sharing.h"

#include <commctrl.h>

#include <cwchar>

namespace {

const WCHAR rebootInstructionsText[] =
    L"In order to continue with Firmware upgrade please follow the next steps:\n\n"
    L"   1. Reboot printer.\n"
    L"   2. Wait until printer is ready.\n"
    L"   3. Click Ok button to continue with upgrade.";

const WCHAR stopWaitingQuestion[] =
    L"The printer has not taken the firmware from the print queue for a minute.\n"
    L"Stop waiting? The print queue is unshared now; the firmware stays in it and is printed when the printer is "
    L"ready.";
const WCHAR stopWaitingLine[] =
    L"\nWaiting for the printer to take the firmware from the print queue. Press Esc to stop waiting.";
// A copy to a queue that prints directly to a slow printer can take longer
// than a minute while it moves: all that is known is that it has not ended.
const WCHAR stopCopyQuestion[] =
    L"The copy to the printer has not finished for a minute.\n"
    L"Stop the upgrade? The printer may then have received part of a firmware file.";
// While the queue holds the stage, the printer has nothing of it yet.
const WCHAR stopHeldCopyQuestion[] =
    L"The copy to the printer has not finished for a minute.\n"
    L"Stop the upgrade? The print queue holds this stage until all of its files are in it, so the printer has "
    L"received nothing of it yet.";
const WCHAR stopCopyLine[] =
    L"\nThe copy to the printer has not finished for a minute. Press Esc to stop the upgrade.";

// The progress bar keeps its default range of 0 to 100, one step per tick.
const UINT rebootWaitFullPosition = 100;

void onInitDialog(HWND window)
{
    upgradeState.statusText = GetDlgItem(window, IDC_STATUS_TEXT);
    upgradeState.detailText = GetDlgItem(window, IDC_DETAIL_TEXT);

    // A failure leaves the name empty; it is not reported here.
    DWORD capacity = ARRAYSIZE(upgradeState.computerName);
    GetComputerNameW(upgradeState.computerName, &capacity);

    int height = GetSystemMetrics(SM_CYSMICON);
    int width = GetSystemMetrics(SM_CXSMICON);
    HANDLE icon = LoadImageW(upgradeState.appInstance, MAKEINTRESOURCEW(IDI_SMALL), IMAGE_ICON, width, height,
                             LR_DEFAULTCOLOR);
    if (icon)
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

// The run starts from the message loop, after ShowWindow has returned and the
// window is on screen; posting (not sending) is what gives that order. Only
// the first show starts it: the phase has moved on by the next one.
void onWindowPosChanged(HWND window, const WINDOWPOS *position)
{
    if (!position || !(position->flags & SWP_SHOWWINDOW) || upgradeState.phase != PhaseCreated)
        return;
    enterPhase(PhaseStarting);
    PostMessageW(window, WM_APP, 0, 0);
}

void onRebootWaitTick()
{
    HWND bar = GetDlgItem(upgradeState.mainDialog, IDC_PROGRESS);
    UINT position = static_cast<UINT>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    if (position < rebootWaitFullPosition) {
        SendMessageW(bar, PBM_SETPOS, position + 1, 0);
        return;
    }
    // Enables Ok with the focus on it: Enter now means Ok.
    KillTimer(upgradeState.mainDialog, IDT_REBOOT_WAIT);
    enterPhase(PhaseRebootReady);
    ShowWindow(bar, SW_HIDE);
    SetWindowTextW(upgradeState.statusText, rebootInstructionsText);
}

// A wait has made no progress for a minute. The line is added once: the
// phase has moved on by a second stall.
void offerToStop(RunPhase stalled, const WCHAR *line)
{
    WCHAR text[confirmationCapacity] = L"";
    GetWindowTextW(upgradeState.statusText, text, ARRAYSIZE(text));
    if (!appendText(text, line))
        copyText(text, line + 1);
    SetWindowTextW(upgradeState.statusText, text);
    enterPhase(stalled);
}

// The stalled copy has ended: the next copy, the reboot wait and the final
// text show their own texts, and Escape means what their phase says. A stop
// the user has chosen stays chosen: the stage beneath says what follows.
void withdrawStopOffer(const WCHAR *line)
{
    WCHAR text[confirmationCapacity] = L"";
    const int length = GetWindowTextW(upgradeState.statusText, text, ARRAYSIZE(text));
    const size_t lineLength = wcslen(line);
    if (length >= 0 && static_cast<size_t>(length) >= lineLength && wcscmp(text + length - lineLength, line) == 0) {
        text[length - lineLength] = L'\0';
        SetWindowTextW(upgradeState.statusText, text);
    }
    if (upgradeState.phase == PhaseCopyStalled)
        enterPhase(PhaseCopying);
}

// Escape or the close box once the tool has offered to stop. No goes back to
// the wait; yes stops it, and the wait's caller ends the run. The session
// may have ended while the box was open.
void askToStop(const WCHAR *question)
{
    const RunPhase stalled = upgradeState.phase;
    enterPhase(PhaseAskingToStop);
    int answer = askUser(question, confirmationCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (upgradeState.phase != PhaseAskingToStop)
        return;
    enterPhase(answer == IDYES ? PhaseStopping : stalled);
}

void act(HWND window, RunMessage message)
{
    switch (actionFor(upgradeState.phase, message)) {
    case CloseTool:
        endRun(window, EndClosed);
        break;
    case SendSecondStage:
        sendSecondStage(window);
        break;
    case RunSequence:
        runUpgradeSequence(window);
        break;
    case StepRebootWait:
        onRebootWaitTick();
        break;
    case OfferStopCopy:
        offerToStop(PhaseCopyStalled, stopCopyLine);
        break;
    case WithdrawStopCopy:
        withdrawStopOffer(stopCopyLine);
        break;
    case OfferStopWaiting:
        offerToStop(PhaseDrainStalled, stopWaitingLine);
        break;
    case AskStopCopy:
        // A stop cuts a file short, and a stop of the wait unshares the
        // queue while the printer may still be taking the firmware from it:
        // No is the default of both.
        askToStop(upgradeState.queueHeld ? stopHeldCopyQuestion : stopCopyQuestion);
        break;
    case AskStopWaiting:
        askToStop(stopWaitingQuestion);
        break;
    case AllowShutdown:
    case RefuseShutdown:
        // A shutdown or log-off in the middle of an upgrade would leave the
        // printer half upgraded; the reason set while firmware is in flight
        // tells the user why it waits.
        SetWindowLongPtrW(window, DWLP_MSGRESULT, actionFor(upgradeState.phase, message) == AllowShutdown);
        break;
    case EndAtOnce:
        // Windows ends the process once this returns. A stage or wait that
        // runs beneath sees the run end and stops without a further copy or
        // box.
        endRun(window, EndSessionEnding);
        break;
    case Ignore:
        break;
    }
}

// The run cannot go on after a C++ failure (a container that could not
// grow, for example). Everything goes back at once, before the box: a
// restore may be what failed, or may be waiting beneath this, and a session
// that ends while the box is open must find the queue unshared already.
// That end can fail in turn (a job list that cannot grow): the queue must
// not stay shared when the process goes.
void onUnexpectedFailure(HWND window)
{
    try {
        endRun(window, EndFailure);
    } catch (...) {
        endRunAtOnce(window);
    }
}

INT_PTR handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(window);
        return FALSE;
    case WM_WINDOWPOSCHANGED:
        // FALSE lets the dialog's default handling run as well.
        onWindowPosChanged(window, reinterpret_cast<const WINDOWPOS *>(lParam));
        return FALSE;
    case WM_APP:
        act(window, MessageStart);
        return FALSE;
    case WM_COMMAND:
        // Handled (TRUE) whatever the phase made of them.
        switch (LOWORD(wParam)) {
        case IDOK:
            act(window, MessageOk);
            return TRUE;
        case IDCANCEL:
            act(window, MessageLeave);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_TIMER:
        // Timer 1 is the dialog's only timer.
        act(window, MessageTick);
        return FALSE;
    case WM_CLOSE:
        act(window, MessageLeave);
        return TRUE;
    case WM_QUERYENDSESSION:
        act(window, MessageQueryEndSession);
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            act(window, MessageEndSession);
        return TRUE;
    case WM_DESTROY:
        // Every way out comes here: nothing keeps the system awake after it.
        enterPhase(PhaseClosing);
        PostQuitMessage(0);
        return TRUE;
    default:
        if (message == stallMessage) {
            act(window, MessageStall);
            return TRUE;
        }
        if (message == stallOverMessage) {
            act(window, MessageStallOver);
            return TRUE;
        }
        return FALSE;
    }
}

}  // namespace

// No exception may unwind into the dialog manager's frames, which are not
// C++ and would be skipped or end the process.
INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return handleMessage(window, message, wParam, lParam);
    } catch (...) {
        onUnexpectedFailure(window);
        return TRUE;
    }
}

int runMainDialog(HINSTANCE instance, int showCommand)
{
    upgradeState.appInstance = instance;

    // The template holds a progress bar, and its window class exists only
    // once the common controls library has registered it; without it the
    // dialog cannot be created. WM_INITDIALOG runs inside CreateDialogParamW,
    // before mainDialog is set.
    upgradeState.mainDialog = registerProgressBarClass()
                                  ? CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc, 0)
                                  : nullptr;
    if (!upgradeState.mainDialog) {
        tellUser(L"The upgrade tool could not open its window.\nThe printer firmware hasn't been updated.",
                 errorCaption, MB_ICONERROR);
        return 1;
    }
    ShowWindow(upgradeState.mainDialog, showCommand);

    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return -1;
        if (!IsDialogMessageW(upgradeState.mainDialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

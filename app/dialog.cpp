// The main dialog: one modeless window that carries the whole run, and the
// message loop that drives it.
#include "app/dialog.h"

#include "app/protection.h"
#include "app/resources/resource.h"
#include "app/sequence.h"
#include "app/state.h"
#include "app/system_libraries.h"
#include "app/wait.h"
#include "delivery/sharing.h"
#include "delivery/transfer.h"

#include <commctrl.h>

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

// The progress bar keeps its default range of 0 to 100, one step per tick.
const UINT rebootWaitFullPosition = 100;

// Inside a transfer stage or a wait, Ok, Escape and close can only arrive
// through the modal loop of an ownerless box or through the wait's own
// dispatching: an Ok would start the second stage inside the first, a close
// would end the tool in the middle of a copy.
bool busy()
{
    return upgradeState.transferRunning || upgradeState.waiting;
}

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
// window is on screen; posting (not sending) is what gives that order.
void onWindowPosChanged(HWND window, const WINDOWPOS *position)
{
    if (!position || !(position->flags & SWP_SHOWWINDOW) || upgradeState.startPosted)
        return;
    upgradeState.startPosted = 1;
    PostMessageW(window, WM_APP, 0, 0);
}

// Every way out puts back sharing that the tool added. restoreSharing may
// block until the queue has printed its jobs, so the window stays until then.
void closeTool(HWND window)
{
    // The reboot wait is abandoned: its ticks must not bring up the reboot
    // instructions while the queue drains.
    KillTimer(window, IDT_REBOOT_WAIT);
    if (restoreDue())
        restoreSharing();
    DestroyWindow(window);
}

void onOk(HWND window)
{
    if (upgradeState.firmwareKind != FirmwareDiskStaged || upgradeState.upgradeFinished) {
        closeTool(window);
        return;
    }
    // The reboot wait is over and the user has rebooted the printer.
    SetWindowTextW(upgradeState.detailText, L"");
    upgradeState.transferRunning = 1;
    runSecondStage();
    upgradeState.transferRunning = 0;
    discardPendingInput();
    endFirmwareInFlight(window);
    showFinalText();
}

void onCancel(HWND window)
{
    if (restoreDue())
        restoreSharing();
    // The close handling tests restoreDue again, so a restore that stopped
    // short is tried once more.
    SendMessageW(window, WM_CLOSE, 0, 0);
}

void onRebootWaitTick()
{
    HWND bar = GetDlgItem(upgradeState.mainDialog, IDC_PROGRESS);
    UINT position = static_cast<UINT>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    if (position < rebootWaitFullPosition) {
        SendMessageW(bar, PBM_SETPOS, position + 1, 0);
        return;
    }
    KillTimer(upgradeState.mainDialog, IDT_REBOOT_WAIT);
    HWND ok = GetDlgItem(upgradeState.mainDialog, IDOK);
    EnableWindow(ok, TRUE);
    // The focus sat on the bar while Ok was disabled; Enter now means Ok.
    SendMessageW(upgradeState.mainDialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ok), TRUE);
    ShowWindow(bar, SW_HIDE);
    SetWindowTextW(upgradeState.statusText, rebootInstructionsText);
}

// Escape and the close box, once the tool has offered to stop waiting for
// the print queue; the wait itself acts on the answer.
void askToStopWaiting(HWND window)
{
    if (MessageBoxW(window, stopWaitingQuestion, L"Confirmation", MB_YESNO | MB_ICONQUESTION) == IDYES)
        upgradeState.stopWaitingChosen = 1;
}

// A shutdown or log-off in the middle of a copy or of the reboot wait would
// leave the printer half upgraded: it is refused while firmware is in flight,
// and the reason set by beginFirmwareInFlight tells the user why.
BOOL onQueryEndSession(HWND window)
{
    SetWindowLongPtrW(window, DWLP_MSGRESULT, upgradeState.firmwareInFlight ? FALSE : TRUE);
    return TRUE;
}

// The session ends anyway (the user forced it): Windows ends the process
// once this returns, so sharing the tool added is put back now, without
// waiting for the jobs, which stay in the spooler.
void onEndSession(bool ending)
{
    if (ending && restoreDue())
        restoreSharingAtOnce();
}

// The run cannot go on after a C++ failure (a container that could not
// grow, for example): say so, put back the sharing the tool added, and end.
void onUnexpectedFailure(HWND window)
{
    upgradeState.transferRunning = 0;
    upgradeState.stopWaitingOffered = 0;
    KillTimer(window, IDT_REBOOT_WAIT);
    MessageBoxW(nullptr, L"An unexpected error has stopped the upgrade tool.\nThe printer firmware may not have been "
                         L"updated completely.",
                L"Firmware Upgrade Error", MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    if (restoreDue())
        restoreSharing();
    DestroyWindow(window);
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
        runUpgradeSequence(window);
        return FALSE;
    case WM_COMMAND:
        // While busy these are swallowed, not passed on. A disabled Ok is
        // never acted on, whoever sends the command.
        switch (LOWORD(wParam)) {
        case IDOK:
            if (!busy() && IsWindowEnabled(GetDlgItem(window, IDOK)))
                onOk(window);
            return TRUE;
        case IDCANCEL:
            if (upgradeState.stopWaitingOffered)
                askToStopWaiting(window);
            else if (!busy())
                onCancel(window);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_TIMER:
        // Timer 1 is the dialog's only timer.
        onRebootWaitTick();
        return FALSE;
    case WM_CLOSE:
        if (upgradeState.stopWaitingOffered)
            askToStopWaiting(window);
        else if (!busy())
            closeTool(window);
        return TRUE;
    case WM_QUERYENDSESSION:
        return onQueryEndSession(window);
    case WM_ENDSESSION:
        onEndSession(wParam != FALSE);
        return TRUE;
    case WM_DESTROY:
        // Every way out comes here: nothing keeps the system awake after it.
        endFirmwareInFlight(window);
        PostQuitMessage(0);
        return TRUE;
    default:
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
        MessageBoxW(nullptr, L"The upgrade tool could not open its window.\nThe printer firmware hasn't been updated.",
                    L"Firmware Upgrade Error", MB_OK | MB_ICONERROR);
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

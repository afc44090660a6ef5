#include "app/protection.h"

#include "app/messages.h"
#include "app/resources/resource.h"
#include "base/boxes.h"
#include "base/state.h"

namespace {

// Global: two users of one computer share its printers and its queues.
const WCHAR instanceMutexName[] = L"Global\\TarnellVellumaxFirmwareUpgradeTool";
// The main dialog's caption, as its template gives it.
const WCHAR toolCaption[] = L"" TOOL_NAME;
const WCHAR busyReason[] = L"Firmware upgrade in progress";
const WCHAR shutdownReason[] = L"Firmware upgrade in progress. Do not switch off the computer or the printer.";

const WCHAR otherSessionText[] =
    L"A firmware upgrade is already running in another session on this computer.\n"
    L"This one cannot start until it ends.";

// The first tool may still be creating its window when the second starts.
// False when no window of the tool can be found: the tool that holds the
// lock runs in another session (another user's, or this user's disconnected
// remote session), whose windows are not seen here.
bool bringRunningToolToFront()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        HWND tool = FindWindowW(L"#32770", toolCaption);
        if (tool) {
            if (IsIconic(tool))
                ShowWindow(tool, SW_RESTORE);
            // A box the tool is showing comes first, or the user would face
            // a window that does not react.
            SetForegroundWindow(GetLastActivePopup(tool));
            return true;
        }
        Sleep(100);
    }
    return false;
}

}  // namespace

bool claimSingleInstance()
{
    // The handle stays open for the life of the process; the system closes
    // it when the process ends, however it ends.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, instanceMutexName);
    DWORD error = GetLastError();
    if (mutex && error != ERROR_ALREADY_EXISTS)
        return true;
    // Access is denied when another session's tool holds the mutex. Any other
    // failure says nothing about a second tool and must not keep the user
    // from upgrading.
    if (!mutex && error != ERROR_ACCESS_DENIED)
        return true;
    if (mutex)
        CloseHandle(mutex);
    // Without a word the user would start the tool again and again. The
    // caption is not the tool's, which the search above looks for.
    if (!bringRunningToolToFront())
        tellUser(otherSessionText, informationCaption, MB_ICONINFORMATION);
    return false;
}

void beginFirmwareInFlight(HWND dialog)
{
    // A power request carries a reason that "powercfg /requests" shows; the
    // execution state is the fallback where a request cannot be made.
    REASON_CONTEXT reason = {};
    reason.Version = POWER_REQUEST_CONTEXT_VERSION;
    reason.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
    reason.Reason.SimpleReasonString = const_cast<LPWSTR>(busyReason);
    HANDLE request = PowerCreateRequest(&reason);
    if (request != INVALID_HANDLE_VALUE && request != nullptr) {
        if (PowerSetRequest(request, PowerRequestSystemRequired))
            upgradeState.powerRequest = request;
        else
            CloseHandle(request);
    }
    if (!upgradeState.powerRequest)
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);

    ShutdownBlockReasonCreate(dialog, shutdownReason);
}

void endFirmwareInFlight(HWND dialog)
{
    if (upgradeState.powerRequest) {
        PowerClearRequest(upgradeState.powerRequest, PowerRequestSystemRequired);
        CloseHandle(upgradeState.powerRequest);
        upgradeState.powerRequest = nullptr;
    } else {
        SetThreadExecutionState(ES_CONTINUOUS);
    }
    ShutdownBlockReasonDestroy(dialog);
}

#include "delivery/sharing.h"

#include "base/state.h"
#include "base/wait.h"
#include "delivery/queue_handle.h"

#include <strsafe.h>

namespace {

// The selected queue's level-2 settings, open for writing back. Members are
// released in reverse order, so the buffer is freed before the handle closes.
struct QueueSettings {
    PrinterHandle printer;
    GlobalBuffer buffer;
    DWORD size = 0;  // as the spooler last reported it; never above the allocation

    PRINTER_INFO_2W *info() const { return static_cast<PRINTER_INFO_2W *>(buffer.get()); }

    bool read() { return GetPrinterW(printer.get(), 2, static_cast<BYTE *>(buffer.get()), size, &size) != FALSE; }

    bool write() const { return SetPrinterW(printer.get(), 2, static_cast<BYTE *>(buffer.get()), 0) != FALSE; }
};

// Opens the queue, by default with the rights needed to change its sharing,
// and reads its settings; false (with whatever was taken released by
// `settings`) when any step fails.
bool openQueueSettings(QueueSettings &settings, ACCESS_MASK access = PRINTER_ALL_ACCESS)
{
    settings.printer = openSelectedQueue(access);
    if (!settings.printer)
        return false;
    HANDLE printer = settings.printer.get();

    // A probe is expected to fail with "buffer too small"; clearing the last
    // error first keeps a stale 122 from an earlier call from passing a probe
    // that failed for another reason.
    SetLastError(0);
    DWORD needed = 0;
    if (!GetPrinterW(printer, 2, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    if (needed == 0)
        return false;

    settings.buffer.reset(GlobalAlloc(GMEM_ZEROINIT, needed));
    if (!settings.buffer)
        return false;
    settings.size = needed;
    return settings.read();
}

// A printer that is off or in an error state never takes its jobs, and the
// wait for an empty queue has no end of its own. After this many polls
// without a job leaving, the stall is reported.
const int pollsBeforeStall = 60;
const DWORD pollInterval = 1000;

void unshare(QueueSettings &settings)
{
    settings.info()->Attributes &= ~static_cast<DWORD>(PRINTER_ATTRIBUTE_SHARED);
    // A refused write is not retried: sharedByTool drops to 0 either way, so
    // no later close path blocks on the queue again.
    if (settings.write())
        upgradeState.sharingNotPutBack = 0;
    upgradeState.sharedByTool = 0;
}

}  // namespace

QueueCondition readQueueCondition(bool forSharing)
{
    QueueCondition condition = {};
    if (forSharing) {
        // The same open as shareQueue(), so that a user who may not manage
        // printers learns it before agreeing to anything.
        if (!openSelectedQueue(PRINTER_ALL_ACCESS)) {
            DWORD error = GetLastError();
            condition.administrationDenied = error == ERROR_ACCESS_DENIED;
        }
    }
    // Reading needs no more than the right to print, which every user has.
    QueueSettings settings;
    if (!openQueueSettings(settings, PRINTER_ACCESS_USE))
        return condition;
    condition.read = true;
    condition.attributes = settings.info()->Attributes;
    condition.status = settings.info()->Status;
    condition.jobs = settings.info()->cJobs;
    const WCHAR *datatype = settings.info()->pDatatype;
    condition.rawData = datatype == nullptr || datatype[0] == L'\0' ||
                        CompareStringOrdinal(datatype, -1, L"RAW", -1, TRUE) == CSTR_EQUAL;
    if (datatype == nullptr || FAILED(StringCchCopyW(condition.datatype, ARRAYSIZE(condition.datatype), datatype)))
        condition.datatype[0] = L'\0';
    return condition;
}

int shareQueue()
{
    QueueSettings settings;
    if (!openQueueSettings(settings))
        return 0;
    // Shared meanwhile by someone else (a colleague, a policy, the user in
    // the printer's properties): that sharing is theirs and stays after the
    // run, and the copies go to its share name as it is now.
    if (settings.info()->Attributes & PRINTER_ATTRIBUTE_SHARED) {
        PrintQueueRecord &queue = upgradeState.selectedQueue;
        const WCHAR *shareName = settings.info()->pShareName ? settings.info()->pShareName : L"";
        if (FAILED(StringCchCopyW(queue.shareName, ARRAYSIZE(queue.shareName), shareName)))
            return 0;
        queue.isShared = 1;
        return 1;
    }
    // Everything else, the share name included, goes back exactly as read:
    // the tool never invents a share name of its own.
    settings.info()->Attributes |= PRINTER_ATTRIBUTE_SHARED;
    if (!settings.write())
        return 0;
    upgradeState.sharedByTool = 1;
    return 1;
}

RestoreOutcome restoreSharing()
{
    QueueSettings settings;
    // Until the write below succeeds the queue is still shared, and the final
    // text says so. Any failure before the write leaves sharedByTool at 1, so
    // the next close path tries again.
    upgradeState.sharingNotPutBack = 1;
    if (!openQueueSettings(settings))
        return RestoreFailed;

    // The copies have ended by now and their jobs sit in this computer's
    // spooler, which feeds them to the printer without the share. The wait
    // is so that the write below, which puts back every level-2 setting of
    // the queue and not only the shared bit, does not change the queue while
    // the printer is still taking the firmware from it.
    DWORD fewestJobs = settings.info()->cJobs;
    int pollsWithoutProgress = 0;
    while (settings.info()->cJobs != 0) {
        if (waitResponsive(nullptr, pollInterval) == WaitStopped)
            return RestoreStopped;
        if (!settings.read())
            return RestoreFailed;
        if (settings.info()->cJobs < fewestJobs) {
            fewestJobs = settings.info()->cJobs;
            pollsWithoutProgress = 0;
        } else if (++pollsWithoutProgress == pollsBeforeStall) {
            reportStall();
        }
    }
    unshare(settings);
    return upgradeState.sharingNotPutBack ? RestoreFailed : RestoreDone;
}

bool restoreSharingAtOnce()
{
    QueueSettings settings;
    upgradeState.sharingNotPutBack = 1;
    if (openQueueSettings(settings))
        unshare(settings);
    return !upgradeState.sharingNotPutBack;
}

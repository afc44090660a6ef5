#include "delivery/sharing.h"

#include "base/state.h"
#include "base/wait.h"

#include <lmcons.h>
#include <winspool.h>

#include <strsafe.h>

#include <algorithm>
#include <memory>

namespace {

struct PrinterCloser {
    void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

struct GlobalFreer {
    void operator()(void *memory) const { GlobalFree(memory); }
};
using GlobalBuffer = std::unique_ptr<void, GlobalFreer>;

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

// The selected queue, opened with the given rights; null, with the
// spooler's error as the last error, when it cannot be.
PrinterHandle openSelectedQueue(ACCESS_MASK access)
{
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
    HANDLE opened = nullptr;
    if (!OpenPrinterW(upgradeState.selectedQueue.printerName, &opened, &defaults))
        return nullptr;
    return PrinterHandle(opened);
}

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

namespace {

// One job of the selected queue as the spooler listed it.
struct ListedJob {
    DWORD id;
    bool ownSince;  // submitted by this user, and not before the time asked about
};

// "Submitted" is the spooler's UTC time of the job's arrival, which it
// keeps to the millisecond or coarser: `since` is taken to its whole second,
// so that a job from the same instant is not counted as older.
bool submittedNotBefore(const SYSTEMTIME &submitted, const FILETIME &since)
{
    SYSTEMTIME start;
    FILETIME startSecond, time;
    if (!FileTimeToSystemTime(&since, &start))
        return false;
    start.wMilliseconds = 0;
    return SystemTimeToFileTime(&start, &startSecond) && SystemTimeToFileTime(&submitted, &time) &&
           CompareFileTime(&time, &startSecond) >= 0;
}

bool sameUser(const WCHAR *jobUser, const WCHAR *user)
{
    return jobUser != nullptr && user[0] != L'\0' && CompareStringOrdinal(jobUser, -1, user, -1, TRUE) == CSTR_EQUAL;
}

// Every job of an open queue in one pass; with `since`, which of them are
// this user's and arrived since then. The queue can gain a job between the
// size probe and the fill: the fill then asks for more room, and the probe
// is made again, a few times.
bool listJobs(HANDLE printer, std::vector<ListedJob> &jobs, const FILETIME *since)
{
    jobs.clear();
    WCHAR user[UNLEN + 1] = L"";
    DWORD userCapacity = ARRAYSIZE(user);
    if (since && !GetUserNameW(user, &userCapacity))
        user[0] = L'\0';  // no job can then be told to be this user's
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD needed = 0, returned = 0;
        SetLastError(0);
        if (EnumJobsW(printer, 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &returned))
            return true;  // no jobs
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
            return false;
        GlobalBuffer buffer(GlobalAlloc(GMEM_ZEROINIT, needed));
        if (!buffer)
            return false;
        if (EnumJobsW(printer, 0, 0xFFFFFFFF, 1, static_cast<BYTE *>(buffer.get()), needed, &needed, &returned)) {
            const auto *infos = static_cast<const JOB_INFO_1W *>(buffer.get());
            for (DWORD i = 0; i < returned; ++i) {
                const bool own = since && sameUser(infos[i].pUserName, user) &&
                                 submittedNotBefore(infos[i].Submitted, *since);
                jobs.push_back({infos[i].JobId, own});
            }
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
    }
    return false;
}

}  // namespace

bool listQueueJobs(std::vector<DWORD> &jobs)
{
    jobs.clear();
    // Listing and deleting one's own jobs needs no more than the right to
    // print; the copies are the user's own jobs.
    PrinterHandle printer = openSelectedQueue(PRINTER_ACCESS_USE);
    std::vector<ListedJob> listed;
    if (!printer || !listJobs(printer.get(), listed, nullptr))
        return false;
    for (const ListedJob &job : listed)
        jobs.push_back(job.id);
    return true;
}

JobRemoval removeOwnJobAddedSince(const std::vector<DWORD> &before, const FILETIME &copyStart)
{
    JobRemoval removal = {JobRemoval::Failed, 0, 0};
    // One handle for the list and the deletion, so that the job deleted is
    // the one that was listed. Listing and deleting one's own jobs needs no
    // more than the right to print; the copies are the user's own jobs.
    PrinterHandle printer = openSelectedQueue(PRINTER_ACCESS_USE);
    std::vector<ListedJob> now;
    if (!printer || !listJobs(printer.get(), now, &copyStart))
        return removal;
    DWORD own = 0;
    for (const ListedJob &job : now) {
        if (std::find(before.begin(), before.end(), job.id) != before.end())
            continue;
        ++removal.added;
        if (job.ownSince) {
            ++own;
            removal.job = job.id;
        }
    }
    // A colleague's document, or a second one of the user's own that
    // arrived meanwhile, cannot be told from the copy's by more than a
    // guess: then nothing is deleted, and the user is told where to look.
    if (removal.added == 0) {
        removal.result = JobRemoval::NoneAdded;
        return removal;
    }
    if (own != 1) {
        removal.result = own == 0 ? JobRemoval::NoneOwn : JobRemoval::Several;
        removal.job = 0;
        return removal;
    }
    if (SetJobW(printer.get(), removal.job, 0, nullptr, JOB_CONTROL_DELETE)) {
        removal.result = JobRemoval::Removed;
        return removal;
    }
    // A job that has gone by itself meanwhile (printed, or cancelled at the
    // printer) is not left behind.
    const DWORD error = GetLastError();
    removal.result = error == ERROR_INVALID_PARAMETER ? JobRemoval::NoneAdded : JobRemoval::Failed;
    return removal;
}

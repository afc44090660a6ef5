#include "delivery/holding.h"

#include "base/wait.h"
#include "delivery/print_jobs.h"
#include "delivery/queue_handle.h"

#include <algorithm>
#include <vector>

namespace {

// Pausing, resuming and moving the stage's jobs need the right to manage the
// queue; the sharing needs it too, so a run that shares the queue has it.
PrinterHandle openToManage()
{
    return openSelectedQueue(PRINTER_ALL_ACCESS);
}

bool setQueueControl(HANDLE printer, DWORD command)
{
    return SetPrinterW(printer, 0, nullptr, command) != FALSE;
}

// A job's spooling ends a moment after the copy that writes it; these
// looks, this far apart, are how long that may take.
const int looksForSpooling = 20;
const DWORD lookInterval = 500;

bool spooling(const QueueJob &job)
{
    return (job.status & JOB_STATUS_SPOOLING) != 0;
}

// Looks again while `look` says a job is still spooling, a few seconds at
// most; a look that tells enough, or a run that ends, stops it.
template <typename Look>
void lookWhileSpooling(Look look)
{
    for (int count = 0; count < looksForSpooling; ++count) {
        if (!look() || waitResponsive(nullptr, lookInterval) != WaitTimedOut)
            return;
    }
}

// One look at the jobs that arrived during the copy: its own when it can be
// told; `waiting` when one that could be its own is still spooling, so that
// a later look may tell more.
DWORD tellCopysJob(HANDLE printer, ULONGLONG size, CopysJob &found, bool &waiting)
{
    std::vector<QueueJob> jobs, candidates;
    if (!listQueueJobs(printer, jobs, &upgradeState.copyStart)) {
        found = {CopysJob::Unlisted, 0};
        return 0;
    }
    found = {CopysJob::Untold, jobsAddedSince(jobs, upgradeState.jobsBeforeCopy, candidates)};
    // Only a job that could be the copy's can tell more once it is spooled.
    waiting = std::any_of(candidates.begin(), candidates.end(), [](const QueueJob &job) { return spooling(job); });
    DWORD id = onlyJobThat(candidates, [](const QueueJob &job) { return job.copyNamed; });
    if (id == 0)
        id = onlyJobThat(candidates, [size](const QueueJob &job) { return !spooling(job) && job.size == size; });
    if (id != 0)
        found.result = CopysJob::Found;
    return id;
}

// Whether `held`'s job is in `jobs` whole; `waiting` while it still spools.
HeldStageCheck::Result judgeJob(const std::vector<QueueJob> &jobs, const HeldJob &held, DWORD &size, bool &waiting)
{
    auto job = std::find_if(jobs.begin(), jobs.end(), [&](const QueueJob &listed) { return listed.id == held.id; });
    if (job == jobs.end())
        return HeldStageCheck::Missing;
    size = job->size;
    if (spooling(*job)) {
        waiting = true;
        return HeldStageCheck::NotWhole;
    }
    const DWORD failed = JOB_STATUS_ERROR | JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_BLOCKED_DEVQ;
    if ((job->status & failed) || held.size != job->size)
        return HeldStageCheck::NotWhole;
    return HeldStageCheck::Whole;
}

HeldStageCheck lookAtHeldStage(HANDLE printer, bool &waiting)
{
    waiting = false;
    std::vector<QueueJob> jobs;
    if (!listQueueJobs(printer, jobs, nullptr))
        return {HeldStageCheck::Unlisted, nullptr, 0};
    for (const HeldJob &held : upgradeState.heldJobs) {
        HeldStageCheck check = {HeldStageCheck::Whole, held.file, 0};
        check.result = judgeJob(jobs, held, check.size, waiting);
        if (check.result != HeldStageCheck::Whole)
            return check;
    }
    return {HeldStageCheck::Whole, nullptr, 0};
}

// Priority before position: the spooler hands the printer the waiting job
// of the highest priority first, and jobs of one priority in their order of
// arrival, which is the stage's sending order.
bool putFirst(HANDLE printer)
{
    GlobalBuffer buffer;
    DWORD returned = 0;
    if (!enumerateJobs(printer, 1, buffer, returned))
        return false;
    auto *jobs = static_cast<JOB_INFO_1W *>(buffer.get());
    for (const HeldJob &held : upgradeState.heldJobs) {
        JOB_INFO_1W *job =
            std::find_if(jobs, jobs + returned, [&](const JOB_INFO_1W &listed) { return listed.JobId == held.id; });
        if (job == jobs + returned)
            return false;
        // Everything else goes back as it was read; the position stays.
        job->Priority = MAX_PRIORITY;
        job->Position = JOB_POSITION_UNSPECIFIED;
        if (!SetJobW(printer, held.id, 1, reinterpret_cast<BYTE *>(job), 0))
            return false;
    }
    return true;
}

}  // namespace

StageHold queueHoldability()
{
    PrinterHandle printer = openToManage();
    if (!printer)
        return HoldNotAllowed;
    std::vector<QueueJob> jobs;
    return listQueueJobs(printer.get(), jobs, nullptr) ? HoldPlanned : HoldJobsUnlisted;
}

bool holdQueue()
{
    upgradeState.heldJobs.clear();
    PrinterHandle printer = openToManage();
    if (!printer || !setQueueControl(printer.get(), PRINTER_CONTROL_PAUSE))
        return false;
    // Without the list the stage's own jobs could not be told: it goes as
    // an unheld stage would, with the queue as it was.
    std::vector<QueueJob> jobs;
    if (!listQueueJobs(printer.get(), jobs, nullptr)) {
        setQueueControl(printer.get(), PRINTER_CONTROL_RESUME);
        return false;
    }
    upgradeState.queueHeld = 1;
    return true;
}

CopysJob noteCopysJob(const WCHAR *file, ULONGLONG size)
{
    PrinterHandle printer = openSelectedQueue(PRINTER_ACCESS_USE);
    if (!printer)
        return {CopysJob::Unlisted, 0};
    CopysJob found = {CopysJob::Unlisted, 0};
    DWORD id = 0;
    lookWhileSpooling([&] {
        bool waiting = false;
        id = tellCopysJob(printer.get(), size, found, waiting);
        return id == 0 && found.result != CopysJob::Unlisted && waiting;
    });
    if (id != 0)
        upgradeState.heldJobs.push_back({file, id, size});
    return found;
}

HeldStageCheck checkHeldStage()
{
    PrinterHandle printer = openSelectedQueue(PRINTER_ACCESS_USE);
    if (!printer)
        return {HeldStageCheck::Unlisted, nullptr, 0};
    HeldStageCheck check = {HeldStageCheck::Unlisted, nullptr, 0};
    lookWhileSpooling([&] {
        bool waiting = false;
        check = lookAtHeldStage(printer.get(), waiting);
        return waiting;
    });
    return check;
}

bool releaseHeldStage()
{
    PrinterHandle printer = openToManage();
    if (!printer || !putFirst(printer.get()) || !setQueueControl(printer.get(), PRINTER_CONTROL_RESUME))
        return false;
    upgradeState.queueHeld = 0;
    upgradeState.heldJobs.clear();
    return true;
}

Withdrawal withdrawHeldStage(bool keepPaused)
{
    Withdrawal withdrawal = {upgradeState.queueHeld != 0, 0, 0, false};
    if (!withdrawal.withdrawn)
        return withdrawal;
    upgradeState.heldStageWithdrawn = 1;
    PrinterHandle printer = openToManage();
    for (const HeldJob &held : upgradeState.heldJobs) {
        if (printer && deleteJob(printer.get(), held.id) != JobRemoval::NotDeleted)
            ++withdrawal.deleted;
        else
            ++withdrawal.notDeleted;
    }
    upgradeState.heldJobs.clear();
    // A job that is still there would print the moment the queue resumes.
    if (!keepPaused && withdrawal.notDeleted == 0)
        resumeHeldQueue();
    withdrawal.stillHeld = upgradeState.queueHeld != 0;
    return withdrawal;
}

bool resumeHeldQueue()
{
    if (!upgradeState.queueHeld)
        return true;
    PrinterHandle printer = openToManage();
    if (printer && setQueueControl(printer.get(), PRINTER_CONTROL_RESUME))
        upgradeState.queueHeld = 0;
    return upgradeState.queueHeld == 0;
}

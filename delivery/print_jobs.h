// The print jobs of the selected queue: listing them before a copy, telling
// the copy's own among those that arrived since, and taking it out again.
#pragma once

#include "delivery/queue_handle.h"

#include <windows.h>

#include <vector>

// One job of an open queue, as far as the tool needs to know it.
struct QueueJob {
    DWORD id;
    // Sent by this user as RAW data, not before the time asked about: what a
    // copy of the tool's may have made.
    bool thisUsersSince;
    // Named as Windows names a job written to a printer share without a name
    // of its own, which is what a copy makes (on an English Windows).
    bool copyNamed;
    DWORD size;    // bytes spooled so far
    DWORD status;  // JOB_STATUS_*
};

// Every job of an open queue, in the queue's order; with `since`, which of
// them this user sent since then. False when they cannot be listed.
bool listQueueJobs(HANDLE printer, std::vector<QueueJob> &jobs, const FILETIME *since);

// The jobs of `jobs` that are not in `before` (the list taken before a
// copy): how many, and, in `candidates`, those this user sent since.
DWORD jobsAddedSince(const std::vector<QueueJob> &jobs, const std::vector<DWORD> &before,
                     std::vector<QueueJob> &candidates);

// The id of the one job among `candidates` that `fits`; 0 when none or
// more than one does, since a guess is not the tool's to act on.
template <typename Fits>
DWORD onlyJobThat(const std::vector<QueueJob> &candidates, Fits fits)
{
    DWORD found = 0, count = 0;
    for (const QueueJob &job : candidates) {
        if (fits(job)) {
            found = job.id;
            ++count;
        }
    }
    return count == 1 ? found : 0;
}

// The spooler's own JOB_INFO_<level> records of an open queue, in `buffer`.
bool enumerateJobs(HANDLE printer, DWORD level, GlobalBuffer &buffer, DWORD &returned);

// Called just before a copy's interpreter starts: notes the queue's jobs in
// upgradeState.jobsBeforeCopy (jobsNoted 0 when they cannot be listed), then
// the copy's start time in upgradeState.copyStart. Shows nothing.
void noteJobsBeforeCopy();

// What removeOwnJobAddedSince() found and did.
struct JobRemoval {
    enum Result {
        NotNeeded,   // no copy was left unfinished: nothing was looked for
        NoneAdded,   // no job appeared since the copy began
        Gone,        // its own job was there, and went by itself before it could be deleted
        Removed,     // the one job that is the copy's own was deleted: `job`
        NoneOwn,     // jobs appeared, and none of them can be told to be the copy's; none deleted
        Several,     // more than one of them looks like the copy's; none deleted
        Unlisted,    // the queue's jobs could not be listed (before the copy, or now)
        NotDeleted,  // its own job `job` could not be deleted
    } result;
    DWORD job;    // when Removed or NotDeleted
    DWORD added;  // how many jobs appeared since the copy began
};

// Deletes one job of an open queue: Removed, Gone (it went by itself
// meanwhile, printed or cancelled at the printer) or NotDeleted.
JobRemoval::Result deleteJob(HANDLE printer, DWORD id);

// Deletes the copy's own job from the selected queue: the one job not in
// `before`, submitted by this user not before `copyStart`, that is what a
// copy to the queue's share makes (a document without a name of its own,
// with RAW data). Any other job is never touched. Shows nothing.
JobRemoval removeOwnJobAddedSince(const std::vector<DWORD> &before, const FILETIME &copyStart);

// Sharing the printer's queue for the time of the upgrade.
#pragma once

#include <windows.h>

#include <vector>

// What the selected queue's settings said when they were read, and whether
// the queue could be opened to change its sharing.
struct QueueCondition {
    bool read;         // false: the settings could not be read, the next three are 0
    DWORD attributes;  // PRINTER_ATTRIBUTE_*
    DWORD status;      // PRINTER_STATUS_*
    DWORD jobs;
    bool administrationDenied;  // opening it to share it was refused (ERROR_ACCESS_DENIED)
};

// Reads the condition of upgradeState.selectedQueue without changing
// anything; with forSharing it also tries the open that shareQueue() needs.
// Shows nothing.
QueueCondition readQueueCondition(bool forSharing);

// Sets the shared attribute of upgradeState.selectedQueue; 1 on success. A
// queue found shared already is left as it is and counts as shared before
// the run (selectedQueue.isShared, with its share name as it is now).
int shareQueue();

enum RestoreOutcome {
    RestoreDone,     // the queue printed its jobs and was unshared
    RestoreStopped,  // the run began to end during the wait: nothing was changed
    RestoreFailed,   // the queue could not be opened, read or written
};

// Waits until the queue holds no jobs, then clears the shared attribute.
// Callers test restoreDue() first. upgradeState.sharingNotPutBack is 1
// afterwards when the queue is still shared. When the jobs have not moved for
// a minute the wait reports a stall (base/wait.h) and goes on. A wait that
// is stopped leaves the queue as it is: the end of the run puts the sharing
// back at once.
RestoreOutcome restoreSharing();

// Clears the shared attribute without waiting for the jobs, which survive
// it in the spooler and print when the printer is ready. False, with
// upgradeState.sharingNotPutBack 1, when the queue is still shared.
bool restoreSharingAtOnce();

// The ids of the jobs in the selected queue; false when they cannot be
// listed.
bool listQueueJobs(std::vector<DWORD> &jobs);

// What removeOwnJobAddedSince() found and did.
struct JobRemoval {
    enum {
        NoneAdded,  // no job appeared since the copy began, or its own has gone by itself
        Removed,    // the one job that is the copy's own was deleted: `job`
        NoneOwn,    // jobs appeared, none of them this user's since the copy began; none deleted
        Several,    // more than one of them is this user's since the copy began; none deleted
        Failed,     // the queue could not be listed, or the job not deleted
    } result;
    DWORD job;    // when Removed
    DWORD added;  // how many jobs appeared since the copy began
};

// Deletes the copy's own job from the selected queue: the one job not in
// `before` that this user submitted not before `copyStart`. Other users'
// jobs and the jobs from before are never touched. Shows nothing.
JobRemoval removeOwnJobAddedSince(const std::vector<DWORD> &before, const FILETIME &copyStart);

// Sharing the printer's queue for the time of the upgrade.
#pragma once

#include <windows.h>

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

// Sets the shared attribute of upgradeState.selectedQueue; 1 on success.
int shareQueue();

enum RestoreOutcome {
    RestoreDone,     // the queue printed its jobs and was unshared
    RestoreStopped,  // the run began to end during the wait: unshared without waiting for the jobs
    RestoreFailed,   // the queue could not be opened, read or written
};

// Waits until the queue holds no jobs, then clears the shared attribute.
// Callers test restoreDue() first. upgradeState.sharingNotPutBack is 1
// afterwards when the queue is still shared. When the jobs have not moved for
// a minute the wait reports a stall (app/wait.h) and goes on; the jobs that
// stay when the wait is stopped print when the printer is ready.
RestoreOutcome restoreSharing();

// Clears the shared attribute without waiting for the jobs, which survive
// it in the spooler: for a session that is ending and will not wait.
void restoreSharingAtOnce();

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
    // The data type the queue gives its documents by default: a copy's job
    // reaches the printer as that type has it processed, unchanged only as
    // plain RAW. A queue that names none gets the spooler's default, RAW.
    bool rawData;
    WCHAR datatype[64];  // as named, for the user; empty when it does not fit
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

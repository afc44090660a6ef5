// Sharing the printer's queue for the time of the upgrade.
#pragma once

// Sets the shared attribute of upgradeState.selectedQueue; 1 on success.
int shareQueue();

// Waits until the queue holds no jobs, then clears the shared attribute.
// Callers test restoreDue() first. upgradeState.sharingLeft is 1 afterwards
// when the queue is still shared. When the jobs have not moved for a minute
// the user may stop the wait; the queue is then unshared at once and the
// main dialog destroyed.
void restoreSharing();

// Clears the shared attribute without waiting for the jobs, which survive
// it in the spooler: for a session that is ending and will not wait.
void restoreSharingAtOnce();

// Sharing the printer's queue for the time of the upgrade.
#pragma once

// Sets the shared attribute of upgradeState.selectedQueue; 1 on success.
int shareQueue();

// Waits until the queue holds no jobs, then clears the shared attribute.
// Callers test restoreDue() first.
void restoreSharing();

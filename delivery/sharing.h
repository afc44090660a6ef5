// Sharing the printer's queue for the time of the upgrade.
#pragma once

// Sets the shared attribute of upgradeState.selectedQueue; 1 on success.
int shareQueue();

// Waits until the queue holds no jobs, then clears the shared attribute.
// Callers test restoreDue() first. upgradeState.sharingLeft is 1 afterwards
// when the queue is still shared.
void restoreSharing();

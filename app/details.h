// What the upgrade will do, shown before the user is asked to agree to it.
#pragma once

// Fills DetailText once the printer's queue has been found: the printer as
// the device library reported it and its port, the queue and the share the
// firmware goes to, and the files in the order they will be sent, with
// their sizes. A line too long for the control is shortened with "...".
void showUpgradeDetails();

// Shows the details again where they are shown, as the run has moved on:
// the sharing as it now stands, the files sent once the upgrade is over.
void refreshUpgradeDetails();

// Finding the print queues that drive the printer's port.
#pragma once

#include "app/state.h"

#include <vector>

// The local queues whose port text contains upgradeState.portName, in the
// spooler's order (printer connections are passed over); the last one is also
// left in upgradeState.selectedQueue. Empty when none does or the spooler
// fails.
std::vector<PrintQueueRecord> findPrintQueues();

// Finding the print queues that drive the printer's port.
#pragma once

#include "base/state.h"

#include <vector>

// The local queues that print to one port, in the spooler's order (printer
// connections are passed over): queues, whose port text names that port
// alone, and pools, which name it beside others. Firmware must never go to
// a pool: the spooler hands each job to whichever of its ports is free.
struct PortQueues {
    std::vector<PrintQueueRecord> queues;
    std::vector<PrintQueueRecord> pools;
};

// Port names as Windows compares them: ignoring case, nothing else. The first
// form compares the first length characters of a (-1: all of it).
bool samePortName(const WCHAR *a, int length, const WCHAR *b);
bool samePortName(const WCHAR *a, const WCHAR *b);

// Looks up the queues of the given port and changes nothing else. False
// (both lists empty) when the spooler cannot list its queues.
bool lookUpPrintQueues(const WCHAR *port, PortQueues &lookup);

// The run's lookup, on upgradeState.portName: returns the queues of that port
// alone, leaves the last one in upgradeState.selectedQueue (kept as it was
// when there is none) and the port's pools in upgradeState.pooledQueues.
// Empty when none serves the port alone or the spooler fails.
std::vector<PrintQueueRecord> findPrintQueues();

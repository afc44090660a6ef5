// Finding the attached printer through the device-status library.
#pragma once

#include "app/state.h"

// Returns 1 when a device whose model matches the catalogue reported a port;
// upgradeState.portName and firmwareKind then describe the last such record,
// and upgradeState.foundPrinters lists every printer found, one per port.
// Sets upgradeState.libraryError: 0 when the device library was loaded, the
// Windows error otherwise.
int detectPrinter();

// Finding the attached printer through the device-status library.
#pragma once

#include "base/state.h"

// Returns 1 when a device whose model matches the catalogue reported a port;
// upgradeState.portName and firmwareKind then describe the last such record,
// and upgradeState.foundPrinters lists every printer found, one per port
// (ports compared as samePortName does); a port whose records name models
// that need different firmware is listed with FirmwareNone.
// Sets upgradeState.libraryError: 0 when the device library was loaded, the
// Windows error otherwise.
int detectPrinter();

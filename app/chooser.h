// The question which printer to upgrade, when a search found several.
#pragma once

#include <windows.h>

// When the last search found printers on several ports, asks in the
// "Select a Printer" dialog, owned by the main dialog, which one to upgrade,
// and makes it the run's printer (portName and firmwareKind). True with one
// printer chosen or only one found; false when the user cancelled or the
// question could not be asked.
bool choosePrinter(HWND dialog);

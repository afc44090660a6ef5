// The question which printer to upgrade, when a search found several.
#pragma once

#include "base/state.h"
#include "base/text.h"

#include <windows.h>

// When the last search found printers on several ports, asks in the
// "Select a Printer" dialog, owned by the main dialog, which one to upgrade,
// and makes it the run's printer (portName and firmwareKind). Only a printer
// with one model on its port and a queue of that port alone can be chosen;
// the others are listed with the reason. True with one printer chosen or
// only one found; false when the user cancelled or the question could not be
// asked.
bool choosePrinter(HWND dialog);

// The printer of the run's port among those the last search found; null when
// it is not among them.
const FoundPrinter *runPrinter();

// Appends the printer's model as reported; one that was too long to keep
// whole ends in "...".
template <size_t N>
bool appendModel(WCHAR (&text)[N], const FoundPrinter &printer)
{
    return appendText(text, printer.model) && (!printer.modelCut || appendText(text, L"..."));
}

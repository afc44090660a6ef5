// Between the queue lookup and the confirmation: what the user is told about
// the printer's queue and the computer before being asked.
#pragma once

#include "delivery/firmware_files.h"

#include <windows.h>

// The status text once the printer and its queue have been found.
void showPrinterFound();

// True when nothing about the selected queue or the computer's power stands
// in the way, or the user chose to go on anyway. False after the box that
// ended the run; nothing has been changed.
bool queueAndPowerReady(HWND dialog);

// True when the firmware files were all held (holdFirmwareFiles()) and the
// share name can be copied to; otherwise false after the box that says what
// is wrong, with nothing held and nothing changed.
bool upgradeCanStart(const FilesCheck &files);

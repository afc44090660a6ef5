// Sending the firmware files to the printer's share.
#pragma once

#include <windows.h>

// Runs one hidden command interpreter with the given parameters and waits for
// it; 1 when the copy succeeded, 0 after the error box.
int runCopyCommand(const WCHAR *commandLine);

// Sends the first (for most printers the only) stage; 0 when the upgrade
// cannot go on, after the user has been told why.
int runFirstStage();

// Sends the files that follow the printer's reboot.
void runSecondStage();

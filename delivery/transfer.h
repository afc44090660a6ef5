// Sending the firmware files to the printer's share.
#pragma once

#include "app/state.h"

#include <windows.h>

// The status text while the firmware is being sent.
extern const WCHAR copyingText[];

// Runs one hidden command interpreter with the given parameters and waits for
// it; 1 when the copy succeeded, 0 after the error box.
int runCopyCommand(const WCHAR *commandLine);

// Checks, without changing anything, what the upgrade of the selected queue
// needs: a current directory the interpreter can use, every firmware file of
// both stages there and not empty, a share name that can be copied to.
// False after the error box that says what is wrong.
bool upgradeCanStart();

// Sends the first (for most printers the only) stage; 0 when the upgrade
// cannot go on, after the user has been told why. upgradeCanStart() has
// passed before.
int runFirstStage();

// Sends the files that follow the printer's reboot.
void runSecondStage();

// What became of one hidden command interpreter.
struct CommandOutcome {
    bool finished;   // it started, ended and its exit code was read
    DWORD error;     // when not finished: the error of the step that failed
    DWORD exitCode;  // when finished
};

// Starts the system folder's cmd.exe hidden with the given parameters, waits
// for it to end and reads its exit code. Shows nothing.
CommandOutcome runHiddenCommand(const WCHAR *commandLine);

// "/C COPY /B <fileName> "\\<computerName>\<shareName>"". False when the
// share name cannot be handed to the interpreter safely (empty, or holding
// one of % ! ") or the line would not fit.
bool buildCopyCommandLine(WCHAR (&commandLine)[nameCapacity], const WCHAR *fileName, const WCHAR *shareName);

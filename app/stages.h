// The two transfer stages: the queue shared when it is not yet, then the
// firmware files sent one copy after another.
#pragma once

#include "base/state.h"

#include <windows.h>

// The status text while the firmware is being sent.
extern const WCHAR copyingText[];

enum StageOutcome {
    StageSent,     // every file of the stage went out (or the user's stop came once nothing was left to send)
    StageRefused,  // the queue could not be shared (after the must-be-shared box); nothing was sent
    StageFailed,   // a copy failed (after the error box); later files were not sent
    StageStopped,  // the run began to end: the copy in flight was ended, or the stop came between two files; nothing was shown
};

// Whether the stages will be held in the queue (delivery/holding.h), for
// the details shown before the user is asked.
void planStageHold();

// Shares the queue when it is not shared yet, then sends the first (for most
// printers the only) stage. The sharing is not put back here: that, the
// reboot wait and what the user is told next are the caller's.
StageOutcome runFirstStage();

// Sends the files that follow the printer's reboot.
StageOutcome runSecondStage();

// Where the copies go: a queue shared before the run keeps its own share;
// otherwise the tool shares it and the copies go to the name the user
// confirmed.
const WCHAR *copyShareName();

// The box for a share name the interpreter cannot be handed safely.
void tellShareNameUnusable(const WCHAR *shareName);

// "In order to continue with upgrade, the printer <share> must be shared".
bool composeMustBeShared(WCHAR (&text)[nameCapacity]);

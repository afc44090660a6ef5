// What keeps an upgrade from being cut off: by a second tool beside the
// first, by the computer going to sleep, or by a shutdown or log-off.
#pragma once

#include <windows.h>

// Takes the tool's one-instance mutex for the life of the process. False
// when another tool already runs: its window has then been brought to the
// front, or, when it cannot be found (another session), a box has
// said why this one does not start; this process must change nothing.
bool claimSingleInstance();

// From the user's confirmation until the print queue's sharing is back the
// system is kept awake and a shutdown or log-off is asked to wait, with a
// reason the user sees. enterPhase() calls these as the run enters and
// leaves the phases with firmware in flight; the end releases what the
// beginning took.
void beginFirmwareInFlight(HWND dialog);
void endFirmwareInFlight(HWND dialog);

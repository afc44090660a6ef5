// One upgrade run, from the search for the printer to the final message.
#pragma once

#include <windows.h>

// The handling of the start message: from the search to the final text, or
// for a disk-staged printer to the reboot wait.
void runUpgradeSequence(HWND dialog);

// A run whose firmware has all gone out: the sharing the tool added goes
// back once the queue has printed, then the final text, which names the
// queue when it is still shared. Ok, Escape or the close box then end the
// run (EndClosed).
void finishRun(HWND dialog);

// The text that ends every successful run.
extern const WCHAR firmwareCopiedText[];

// The second stage, once the printer has rebooted and the user pressed Ok.
void sendSecondStage(HWND dialog);

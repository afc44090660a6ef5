// One upgrade run, from the search for the printer to the final message.
#pragma once

#include <windows.h>

// The handling of the start message: from the search to the final text, or
// for a disk-staged printer to the reboot wait.
void runUpgradeSequence(HWND dialog);

// One of the run's own boxes before the upgrade starts, owned by the dialog,
// which it disables meanwhile. Nothing the dialog receives while the box is
// open means anything: the box's answer decides.
int ask(HWND dialog, const WCHAR *text, const WCHAR *caption, UINT type);

// The second stage, once the printer has rebooted and the user pressed Ok.
void sendSecondStage(HWND dialog);

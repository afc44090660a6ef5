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

// Ends the tool: the dialog is destroyed, and with it the message loop.
void endTool(HWND dialog);

// Ends the tool after putting back the sharing it added, which waits until
// the queue has printed its jobs.
void closeTool(HWND dialog);

// The text that ends every successful run; the second stage's Ok shows it too.
extern const WCHAR firmwareCopiedText[];

// Shows firmwareCopiedText, followed by the queue's name when the sharing
// that the tool added could not be put back.
void showFinalText();

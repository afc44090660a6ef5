// One upgrade run, from the search for the printer to the final message.
#pragma once

#include <windows.h>

void runUpgradeSequence(HWND dialog);

// The text that ends every successful run; the second stage's Ok shows it too.
extern const WCHAR firmwareCopiedText[];

// Shows firmwareCopiedText, followed by the queue's name when the sharing
// that the tool added could not be put back.
void showFinalText();

// One upgrade run, from the search for the printer to the final message.
#pragma once

#include <windows.h>

void runUpgradeSequence(HWND dialog);

#include "app/sequence.h"
void runUpgradeSequence(HWND) {}

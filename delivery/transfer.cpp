#include "delivery/transfer.h"
int runCopyCommand(const WCHAR *) { return 0; }
int runFirstStage() { return 0; }
void runSecondStage() {}

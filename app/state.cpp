#include "app/state.h"

UpgradeState upgradeState;

bool restoreDue()
{
    return upgradeState.selectedQueue.isShared == 0 && upgradeState.sharedByTool == 1;
}

#include "base/state.h"

UpgradeState upgradeState;

bool restoreDue()
{
    return upgradeState.selectedQueue.isShared == 0 && upgradeState.sharedByTool == 1;
}

bool runEnding()
{
    return upgradeState.phase == PhaseStopping || upgradeState.phase == PhaseClosing;
}

#include "app/phase.h"

#include "app/protection.h"
#include "app/resources/resource.h"
#include "base/state.h"
#include "base/wait.h"

namespace {

constexpr unsigned phases(std::initializer_list<RunPhase> list)
{
    unsigned set = 0;
    for (RunPhase phase : list)
        set |= 1u << phase;
    return set;
}

// Where each phase may go next. Closing can be reached from anywhere: the
// window can be destroyed, the session can end and the tool can fail at any
// point.
const unsigned allowedNext[phaseCount] = {
    /* Created      */ phases({PhaseStarting}),
    /* Starting     */ phases({PhaseSearching, PhaseRestoring}),
    /* Searching    */ phases({PhaseAsking}),
    /* Asking       */ phases({PhaseSearching, PhaseCopying, PhaseFinished, PhaseRestoring}),
    /* Copying      */ phases({PhaseCopyStalled, PhaseRebootWait, PhaseRestoring, PhaseFinished}),
    /* CopyStalled  */ phases({PhaseAskingToStop, PhaseCopying, PhaseRebootWait, PhaseRestoring, PhaseFinished}),
    /* RebootWait   */ phases({PhaseRebootReady, PhaseRestoring}),
    /* RebootReady  */ phases({PhaseCopying, PhaseRestoring}),
    /* Restoring    */ phases({PhaseDrainStalled, PhaseFinished}),
    /* DrainStalled */ phases({PhaseAskingToStop, PhaseFinished}),
    /* AskingToStop */ phases({PhaseCopyStalled, PhaseDrainStalled, PhaseStopping}),
    // The end of the run follows (app/ending.h); or, when the stop came
    // once the last file had gone through, the run ends as one that did.
    /* Stopping     */ phases({PhaseRestoring, PhaseFinished}),
    /* Finished     */ phases({PhaseRestoring}),
    /* Closing      */ 0,
};

bool okActs(RunPhase phase)
{
    return actionFor(phase, MessageOk) != Ignore;
}

bool firmwareInFlight(RunPhase phase)
{
    return actionFor(phase, MessageQueryEndSession) == RefuseShutdown;
}

// A disabled button that keeps the focus leaves the dialog without one, and
// Escape and Enter then reach nothing: the focus goes to the progress bar
// first, the one other control that can hold it. When Ok comes back it takes
// the focus again, so that Enter means Ok; input made while Ok did nothing
// is thrown away first, so it does not act now that it would.
void enableOk(HWND dialog, bool enable)
{
    HWND ok = GetDlgItem(dialog, IDOK);
    if (!ok || (IsWindowEnabled(ok) != FALSE) == enable)
        return;
    if (enable) {
        discardPendingInput();
        EnableWindow(ok, TRUE);
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ok), TRUE);
        return;
    }
    if (GetFocus() == ok)
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_PROGRESS)), TRUE);
    EnableWindow(ok, FALSE);
}

}  // namespace

bool enterPhase(RunPhase next)
{
    const RunPhase previous = upgradeState.phase;
    if (next == previous)
        return true;
    if (next != PhaseClosing && !(allowedNext[previous] & (1u << next))) {
        ++upgradeState.refusedPhaseChanges;
        return false;
    }
    upgradeState.phase = next;

    HWND dialog = upgradeState.mainDialog;
    enableOk(dialog, okActs(next));
    if (firmwareInFlight(next) && !firmwareInFlight(previous))
        beginFirmwareInFlight(dialog);
    else if (!firmwareInFlight(next) && firmwareInFlight(previous))
        endFirmwareInFlight(dialog);
    return true;
}

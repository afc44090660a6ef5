// The phase of the run: the one answer to "what does this message mean now?".
//
// The tool has one thread, and its waits, stages and boxes run nested
// message loops: Ok, Escape, the close box, the reboot timer and the
// system's shutdown messages can arrive inside any of them. Each handler asks
// actionFor() what its message means in the current phase and does exactly
// that; a message that means nothing there is ignored. enterPhase() is the
// only way to change the phase.
#pragma once

#include "base/state.h"

#include <windows.h>


// The messages whose meaning depends on the phase. Leave is Escape (IDCANCEL)
// and the close box or Alt+F4 (WM_CLOSE). Stall and StallOver are
// stallMessage and stallOverMessage (base/wait.h).
enum RunMessage {
    MessageOk,
    MessageLeave,
    MessageStart,
    MessageTick,
    MessageStall,
    MessageStallOver,
    MessageQueryEndSession,
    MessageEndSession,
    messageCount
};

// Which way the run ends is all the table says about ending: app/ending.h
// gives back what the run took, the same way for every end.
enum RunAction {
    Ignore,
    CloseTool,         // end the run, putting back the sharing once the queue has printed
    SendSecondStage,
    RunSequence,
    StepRebootWait,
    OfferStopCopy,     // say that Escape stops the upgrade
    WithdrawStopCopy,  // the stalled copy has ended: its line goes, and its offer with it unless the user stopped
    OfferStopWaiting,  // say that Escape stops waiting for the queue
    AskStopCopy,
    AskStopWaiting,
    AllowShutdown,
    RefuseShutdown,    // firmware is in flight
    EndAtOnce,         // the session ends: end the run without waiting for anything
};

// Rows: phases in the order above; columns: messages in the order above.
// The Ok button is enabled exactly in the phases where Ok does something, and
// the computer is kept awake and shutdowns refused where they are refused.
constexpr RunAction phaseActions[phaseCount][messageCount] = {
    //                Ok               Leave           Start        Tick            Stall             StallOver         QueryEnd        EndSession
    /* Created     */ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           Ignore,           AllowShutdown,  Ignore},
    /* Starting    */ {CloseTool,       CloseTool,      RunSequence, Ignore,         Ignore,           Ignore,           AllowShutdown,  Ignore},
    /* Searching   */ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           Ignore,           AllowShutdown,  Ignore},
    /* Asking      */ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           Ignore,           AllowShutdown,  Ignore},
    /* Copying     */ {Ignore,          Ignore,         Ignore,      Ignore,         OfferStopCopy,    Ignore,           RefuseShutdown, EndAtOnce},
    /* CopyStalled */ {Ignore,          AskStopCopy,    Ignore,      Ignore,         Ignore,           WithdrawStopCopy, RefuseShutdown, EndAtOnce},
    /* RebootWait  */ {Ignore,          CloseTool,      Ignore,      StepRebootWait, Ignore,           Ignore,           RefuseShutdown, EndAtOnce},
    /* RebootReady */ {SendSecondStage, CloseTool,      Ignore,      Ignore,         Ignore,           Ignore,           RefuseShutdown, EndAtOnce},
    /* Restoring   */ {Ignore,          Ignore,         Ignore,      Ignore,         OfferStopWaiting, Ignore,           RefuseShutdown, EndAtOnce},
    /* DrainStalled*/ {Ignore,          AskStopWaiting, Ignore,      Ignore,         Ignore,           Ignore,           RefuseShutdown, EndAtOnce},
    /* AskingToStop*/ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           Ignore,           RefuseShutdown, EndAtOnce},
    /* Stopping    */ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           WithdrawStopCopy, RefuseShutdown, EndAtOnce},
    /* Finished    */ {CloseTool,       CloseTool,      Ignore,      Ignore,         Ignore,           Ignore,           AllowShutdown,  EndAtOnce},
    /* Closing     */ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           Ignore,           AllowShutdown,  Ignore},
};

inline RunAction actionFor(RunPhase phase, RunMessage message)
{
    return phaseActions[phase][message];
}

// Moves the run to `next` and does what the change brings with it: the Ok
// button enabled or disabled (the focus moved off it first), the computer
// kept awake and shutdowns held off while firmware is in flight. A change that the run's
// design does not allow is refused: the phase stays, and
// upgradeState.refusedPhaseChanges counts it (the tests require none).
bool enterPhase(RunPhase next);

// The phase of the run: the one answer to "what does this message mean now?".
//
// The tool has one thread, and its waits, stages and boxes run nested
// message loops: Ok, Escape, the close box, the reboot timer and the
// system's shutdown messages can arrive inside any of them. Each handler asks
// actionFor() what its message means in the current phase and does exactly
// that; a message that means nothing there is ignored. enterPhase() is the
// only way to change the phase.
#pragma once

#include <windows.h>

enum RunPhase {
    PhaseCreated,       // the window exists but has not been shown
    PhaseStarting,      // shown; the start message is on its way
    PhaseSearching,     // searching, looking up the queue, checking the files
    PhaseAsking,        // one of the run's own boxes is open
    PhaseCopying,       // a transfer stage sends its files
    PhaseCopyStalled,   // a copy has not ended for a minute: Escape offers to stop
    PhaseRebootWait,    // the progress bar fills while the printer reboots
    PhaseRebootReady,   // the reboot instructions: Ok sends the second stage
    PhaseRestoring,     // waiting for the queue to print before it is unshared
    PhaseDrainStalled,  // the queue has not moved for a minute: Escape offers to stop
    PhaseAskingToStop,  // the question whether to stop is open
    PhaseStopping,      // the user chose to stop: waits end, the copy is ended
    PhaseFinished,      // the final or the cancelled text: Ok, Escape and close end the tool
    PhaseClosing,       // the tool is ending: nothing more is started
    phaseCount
};

// The messages whose meaning depends on the phase. Leave is Escape (IDCANCEL)
// and the close box or Alt+F4 (WM_CLOSE). Stall and StallOver are
// stallMessage and stallOverMessage (app/wait.h).
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
    WithdrawStopCopy,  // the stalled copy has ended after all: its line and its offer go
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
    /* Stopping    */ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           Ignore,           RefuseShutdown, EndAtOnce},
    /* Finished    */ {CloseTool,       CloseTool,      Ignore,      Ignore,         Ignore,           Ignore,           AllowShutdown,  EndAtOnce},
    /* Closing     */ {Ignore,          Ignore,         Ignore,      Ignore,         Ignore,           Ignore,           AllowShutdown,  Ignore},
};

// How each phase is left when the user wants out. In the phases where Ok,
// Escape and the close box mean nothing, something is in flight that must
// finish first (the search, a box, a copy, the queue's jobs, a stop) and
// moves the run on by itself; in every other phase one of them ends the
// tool or asks whether to stop.
enum PhaseExit { ExitByUser, ExitByWork };
constexpr PhaseExit phaseExits[phaseCount] = {
    /* Created      */ ExitByWork,  // the show that follows starts the run
    /* Starting     */ ExitByUser,
    /* Searching    */ ExitByWork,
    /* Asking       */ ExitByWork,
    /* Copying      */ ExitByWork,  // a minute without an end makes it CopyStalled
    /* CopyStalled  */ ExitByUser,
    /* RebootWait   */ ExitByUser,
    /* RebootReady  */ ExitByUser,
    /* Restoring    */ ExitByWork,  // a minute without a job printed makes it DrainStalled
    /* DrainStalled */ ExitByUser,
    /* AskingToStop */ ExitByWork,
    /* Stopping     */ ExitByWork,
    /* Finished     */ ExitByUser,
    /* Closing      */ ExitByWork,
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

// True once the run is ending (the user chose to stop, or the tool closes):
// a stage sends nothing more and shows nothing.
bool runEnding();

// Waits that keep the tool's window answering.
//
// The tool has one thread. A wait that blocks it without looking at its
// messages (Sleep, WaitForSingleObject) leaves the window unpainted, and
// after five seconds Windows shows it as "Not Responding" and offers to end
// the program, which would leave the queue shared and a printer half
// upgraded. These waits dispatch what arrives instead, the user's input
// included; what a key or a click means meanwhile is the run phase's to say
// (the phase table beside the dialog), and in most phases it means nothing.
#pragma once

#include <windows.h>

enum WaitOutcome {
    WaitSignalled,  // the handle was signalled
    WaitTimedOut,   // the time was up first
    WaitStopped,    // the run began to end meanwhile (runEnding())
    WaitFailed,     // the wait itself failed; GetLastError() tells why
};

// Waits until `handle` is signalled or `milliseconds` have passed (INFINITE:
// no limit). A null handle waits for the time alone. When the run begins to
// end during the wait (the user stops it, the session ends), the wait
// returns at once: what it waited for no longer matters. A wait that begins
// once the run is ending runs its course.
WaitOutcome waitResponsive(HANDLE handle, DWORD milliseconds);

// Sent to the main dialog by a wait of the run that has made no progress for
// a minute: a copy that has not ended, a queue whose jobs do not print.
// Whether the user is then offered a way out is the dialog's to decide.
const UINT stallMessage = WM_APP + 1;
void reportStall();

// Sent once the wait of a copy that was reported stalled is over, whichever
// way the copy ended: the stall and whatever was offered for it belong to
// that copy.
const UINT stallOverMessage = WM_APP + 2;
void reportStallOver();

// Throws away the keyboard and mouse input waiting in the thread's queue.
void discardPendingInput();

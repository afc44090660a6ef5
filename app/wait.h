// Waits that keep the tool's window answering.
//
// The tool has one thread. A wait that blocks it without looking at its
// messages (Sleep, WaitForSingleObject) leaves the window unpainted, and
// after five seconds Windows shows it as "Not Responding" and offers to end
// the program, which would leave the queue shared and a printer half
// upgraded. These waits dispatch what arrives instead, but hold off the
// user's keyboard and mouse input, so nothing typed or clicked meanwhile is
// acted on, then or afterwards.
#pragma once

#include <windows.h>

enum WaitOutcome {
    WaitSignalled,  // the handle was signalled
    WaitTimedOut,   // the time was up first
    WaitFailed,     // the wait itself failed; GetLastError() tells why
};

// Waits until `handle` is signalled or `milliseconds` have passed (INFINITE:
// no limit). A null handle waits for the time alone.
WaitOutcome waitResponsive(HANDLE handle, DWORD milliseconds);

// Throws away the keyboard and mouse input waiting in the thread's queue:
// what the user did while the tool was busy must not be replayed once the
// message loop runs again.
void discardPendingInput();

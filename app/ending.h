// The end of a run, whichever way it ends.
//
// A run takes more than memory: the queue's sharing, perhaps a job in the
// spooler, a power request, a shutdown block, a timer, a running cmd.exe.
// Every way out goes through endRun(), which gives all of it back and says
// what it could not; the phase table (app/phase.h) and the sequence only
// choose the way.
#pragma once

#include "base/state.h"

#include <windows.h>

enum RunEnd {
    // The run is over, was declined or given up, a copy failed (its box has
    // been shown), or the user closed the tool: the sharing the tool added
    // goes back once the queue has printed its jobs; at once when the user
    // had chosen to stop.
    EndClosed,
    // The user stopped the upgrade (or the session ends beneath a copy): a
    // copy cut short has its partial job taken out of the queue, the sharing
    // goes back at once, and a box says which files were sent whole and
    // what to do.
    EndCopyStopped,
    // The user stopped waiting for the queue's jobs: the sharing goes back at
    // once; the jobs stay and print when the printer is ready.
    EndWaitStopped,
    // The session ends: Windows ends the process once the handler returns,
    // so everything goes back at once and no box is shown.
    EndSessionEnding,
    // A C++ failure: everything goes back at once, then a box says so.
    EndFailure,
};

// Stops the reboot timer and the copy in flight, deletes the job of a copy
// that was cut short, puts back the sharing the tool added, says in the
// run's last box when something could not be given back, ends the power
// request and the shutdown block (by leaving the phases with firmware in
// flight) and destroys the window. An end that comes while another is under
// way (the session ends while the last box is open, or a stage beneath sees
// the run end) gives back what is still held, at once, and shows nothing.
void endRun(HWND dialog, RunEnd how);

// The way out when endRun() itself has failed (a list that could not
// grow): ends the copy in flight, lets go of the firmware files, puts the
// sharing back at once, says in one box that the tool failed and what it
// could not give back (a partial job, the sharing), and destroys the
// window; throws nothing.
void endRunAtOnce(HWND dialog) noexcept;

// Appends "[\n]The printer <queue> is still shared as <share>: ...", the
// line that says the sharing the tool added could not be taken back. False,
// with the text as it was, when it does not fit.
bool appendStillShared(WCHAR (&text)[confirmationCapacity], bool onNewLine);

// The copy: one hidden command interpreter that copies one firmware file to
// the queue's share, byte for byte. Starting it, waiting for it while the
// window answers, stopping it, and judging its end by what really happened.
#pragma once

#include "base/state.h"
#include "delivery/print_jobs.h"

#include <windows.h>

// How one copy ended.
struct CopyResult {
    enum End {
        Sent,      // the interpreter ended by itself with exit code 0: the file reached the queue whole
        Failed,    // the interpreter could not be started or waited for, or COPY failed
        CutShort,  // the tool ended the interpreter before the copy had finished
    } end;
    DWORD error;     // when Failed because a step of the tool's failed: Windows' error of that step; else 0
    DWORD exitCode;  // when Failed because COPY failed: the interpreter's exit code; else 0
    bool started;    // the interpreter ran, so the copy may have left a job in the queue
};

// "/C COPY /B <fileName> "\\<computerName>\<shareName>"". False when the
// share name cannot be handed to the interpreter safely (empty, or holding
// one of % ! ") or the line would not fit.
bool buildCopyCommandLine(WCHAR (&commandLine)[nameCapacity], const WCHAR *fileName, const WCHAR *shareName);

// Notes the queue's jobs (print_jobs.h), then starts the system folder's
// cmd.exe hidden with the given parameters and waits for it, the window
// answering meanwhile. A copy that has not ended after a minute is reported
// as a stall (base/wait.h), and the stall's end once its wait is over,
// whichever way it ended. When the run begins to end meanwhile the
// interpreter is ended, unless it has ended by itself; either way the
// result says what really happened, and a copy that started and did not go
// through is marked unfinished (upgradeState.copyUnfinished). Shows nothing.
CopyResult runCopy(const WCHAR *commandLine);

// For an end of the run beneath a copy's wait: ends the interpreter in
// flight, if any, and marks it unfinished when it did not go through by
// itself. Shows nothing.
void stopCopyInFlight();

// After a copy was left unfinished: takes its own job out of the queue
// (print_jobs.h), so that the printer never gets a partial file once it is
// back, and clears the mark; NotNeeded when no copy was. Shows nothing.
JobRemoval removeUnfinishedCopysJob();

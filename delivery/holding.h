// Holding a stage in the queue. Windows starts printing a job as soon as
// its first bytes arrive, so a copy that is stopped or fails half-way would
// have sent part of a file, and a stop between two files part of a stage.
// Paused, the queue takes the stage's files and the printer gets nothing
// yet; once every file is in it whole, the stage's jobs are put first and the
// queue is resumed, and the printer gets the stage as one. A stage taken back
// before that leaves the printer untouched.
#pragma once

#include "base/state.h"

#include <windows.h>

// Whether the stages can be held: pausing the queue needs the right to
// manage it, and telling the stage's own jobs needs their list. HoldPlanned,
// HoldNotAllowed or HoldJobsUnlisted. Changes nothing, shows nothing.
StageHold queueHoldability();

// Pauses the queue before a stage's first copy (upgradeState.queueHeld).
// False, with the queue as it was, when the spooler refuses the pause or its
// jobs cannot be listed once paused.
bool holdQueue();

// What noteCopysJob() found.
struct CopysJob {
    enum Result {
        Found,     // the copy's job is noted in upgradeState.heldJobs
        Untold,    // jobs arrived during the copy, and none, or more than one, can be told to be its own
        Unlisted,  // the queue's jobs could not be listed
    } result;
    DWORD added;  // how many jobs arrived during the copy
};

// After a copy of a held stage went through: finds its job among those that
// arrived since it began (print_jobs.h), and notes it with the size it must
// have. The copy's job is the one this user sent as RAW data named as a copy
// to a share is named; where Windows names it otherwise (a translated
// Windows), the one whose size is exactly the file's.
CopysJob noteCopysJob(const WCHAR *file, ULONGLONG size);

// What checkHeldStage() found.
struct HeldStageCheck {
    enum Result {
        Whole,     // one job per file, each of exactly its file's size, spooled
        Missing,   // `file`'s job has left the queue
        NotWhole,  // `file`'s job holds `size` bytes, not the file's, or the spooler marks it failed
        Unlisted,  // the queue's jobs could not be listed
    } result;
    const WCHAR *file;
    DWORD size;
};

// After a held stage's last copy: whether every one of its jobs is whole.
// A job still spooling is waited for, a few seconds.
HeldStageCheck checkHeldStage();

// Puts the stage's jobs first, in sending order (by their priority, so that
// documents others sent meanwhile wait behind them), and resumes the queue.
// False when a job could not be moved or the queue not resumed; the stage
// is then still held.
bool releaseHeldStage();

// What withdrawHeldStage() did.
struct Withdrawal {
    bool withdrawn;     // a stage was held
    DWORD deleted;      // its jobs deleted (or gone by themselves)
    DWORD notDeleted;   // its jobs the spooler would not delete
    bool stillHeld;     // the queue is still paused: kept so, or its resume failed
};

// Takes back a held stage before its release: deletes its jobs and resumes
// the queue. With keepPaused, or when a job could not be deleted, the queue
// stays paused for resumeHeldQueue(), so that the user can look at it first.
Withdrawal withdrawHeldStage(bool keepPaused);

// Resumes a queue the tool still holds paused; true when none is held now.
bool resumeHeldQueue();

// The words the tool's error boxes share: one caption, one ending for a run
// that stops before anything is sent or once a copy has failed, and what
// became of a copy's partial job.
#pragma once

#include "base/state.h"
#include "delivery/holding.h"
#include "delivery/print_jobs.h"

#include <windows.h>

// The caption of every error box of the tool.
extern const WCHAR errorCaption[];

// Shows "<text>\nFirmware upgrade cancelled." in an error box; the ending
// alone when `text` is null or the whole does not fit.
void tellCancelled(const WCHAR *text);

// The same for "<start><name><end>": a name or path of up to 255
// characters between fixed words.
void tellCancelledNaming(const WCHAR *start, const WCHAR *name, const WCHAR *end);

// Appends what became of the partial job, for the stopped and the error
// boxes; nothing when no copy was left unfinished. False when it does not
// fit.
bool appendPartialJob(WCHAR (&text)[confirmationCapacity], const JobRemoval &removal);

// True when a partial job may still be in the queue and could not be named:
// a held queue then stays paused while the user is told, so that it can be
// looked at before anything of it prints.
bool partialJobUntold(const JobRemoval &removal);

// Appends what taking back a held stage means: the printer received nothing
// of it; whether the queue stays paused until the box is answered, and
// what to delete meanwhile; that the upgrade can simply be run again. On a
// new line when `text` is not empty. False when it does not fit.
bool appendWithdrawal(WCHAR (&text)[confirmationCapacity], const Withdrawal &withdrawal);

// The words the tool's error boxes share: one caption, one ending for a run
// that stops before anything is sent or once a copy has failed, and what
// became of a copy's partial job.
#pragma once

#include "base/state.h"
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
// boxes; nothing for NoPartialJob. False when it does not fit.
bool appendPartialJob(WCHAR (&text)[confirmationCapacity], const PartialJobReport &report);

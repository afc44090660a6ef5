// The words the tool's boxes share: their captions, one ending for a run
// that stops before anything is sent or once a copy has failed, what became
// of a copy's partial job and of a stage the queue held.
#pragma once

#include "base/state.h"
#include "delivery/holding.h"
#include "delivery/print_jobs.h"

#include <windows.h>

// The captions of the tool's boxes, one for each kind of box.
// "Firmware Upgrade Error": the upgrade cannot start or go on, or has
// stopped; what became of the printer and the queue.
extern const WCHAR errorCaption[];
// "Error": the printer or its queue cannot be found or used as they are.
extern const WCHAR printerErrorCaption[];
// "Confirmation": whether to upgrade, and whether to stop.
extern const WCHAR confirmationCaption[];
// "Warning": something in the way that the user may choose to pass.
extern const WCHAR warningCaption[];
// "Information": what the user must do first (share the queue) or wait for
// (the tool running in another session).
extern const WCHAR informationCaption[];

// The status text once a run has stopped part-way, under the box that
// says why: nothing is being copied any more.
extern const WCHAR stoppedText[];

// "<start><the selected queue's name><end>". False when it does not fit.
bool composeNamingQueue(WCHAR (&text)[confirmationCapacity], const WCHAR *start, const WCHAR *end);

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

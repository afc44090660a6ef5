#include "app/ending.h"

#include "app/messages.h"
#include "app/phase.h"
#include "app/resources/resource.h"
#include "base/boxes.h"
#include "base/state.h"
#include "base/text.h"
#include "delivery/copy.h"
#include "delivery/firmware_files.h"
#include "delivery/holding.h"
#include "delivery/print_jobs.h"
#include "delivery/sharing.h"

#include <algorithm>
#include <vector>

namespace {

const WCHAR stoppedStart[] =
    L"The firmware upgrade has been stopped.\nThe printer may have received part of a firmware file.";
const WCHAR stoppedEnd[] = L" Switch the printer off and on again, then run the upgrade again.";
const WCHAR stoppedBetweenEnd[] = L"\nThe upgrade is not complete: run it again to finish it.";
const WCHAR sentWholeLead[] = L"\nFiles sent whole to the print queue: ";
const WCHAR cutShortLead[] = L"\nFile cut short: ";
const WCHAR notSentLead[] = L"\nFiles not sent: ";

const WCHAR failureText[] =
    L"An unexpected error has stopped the upgrade tool.\nThe printer firmware may not have been updated completely.";

const WCHAR stillSharedStart[] = L"The printer ";
const WCHAR stillSharedMiddle[] = L" is still shared as ";
const WCHAR stillSharedEnd[] = L": the tool could not stop sharing it. Stop sharing it in the printer's properties.";

// "<lead>a, b." for a list that is not empty.
bool appendFiles(WCHAR (&text)[confirmationCapacity], const WCHAR *lead, const std::vector<const WCHAR *> &files)
{
    if (files.empty())
        return true;
    bool composed = appendText(text, lead);
    for (size_t i = 0; i < files.size(); ++i)
        composed = composed && (i == 0 || appendText(text, L", ")) && appendText(text, files[i]);
    return composed && appendText(text, L".");
}

// Which files of the run reached the queue whole, which one was cut short
// (the first that did not, when a copy was) and which were not sent.
bool appendFilesSent(WCHAR (&text)[confirmationCapacity], bool cutShort)
{
    const std::vector<const WCHAR *> &sent = upgradeState.filesSent;
    std::vector<const WCHAR *> cut, notSent;
    for (const WCHAR *file : allStageFiles(upgradeState.firmwareKind)) {
        if (std::find(sent.begin(), sent.end(), file) != sent.end())
            continue;
        (cutShort && cut.empty() ? cut : notSent).push_back(file);
    }
    return appendFiles(text, sentWholeLead, sent) && appendFiles(text, cutShortLead, cut) &&
           appendFiles(text, notSentLead, notSent);
}

// A held stage taken back: none of its files reached the printer, the one
// cut short included.
bool composeStopped(WCHAR (&text)[confirmationCapacity], const JobRemoval &partial,
                    const Withdrawal &withdrawal)
{
    if (withdrawal.withdrawn)
        return copyText(text, stoppedText) && appendWithdrawal(text, withdrawal) &&
               appendFilesSent(text, false);
    if (partial.result == JobRemoval::NotNeeded)
        return copyText(text, stoppedText) && appendFilesSent(text, false) &&
               appendText(text, stoppedBetweenEnd);
    return copyText(text, stoppedStart) && appendPartialJob(text, partial) && appendText(text, stoppedEnd) &&
           appendFilesSent(text, true);
}

// The box, and the line that says the queue is still shared: below its
// text where it fits, otherwise in a box of its own, never cut.
void tellWithStillShared(WCHAR (&text)[confirmationCapacity], UINT icon, bool stillShared)
{
    const bool fits = !stillShared || appendStillShared(text, true);
    tellUser(text, errorCaption, icon);
    WCHAR alone[confirmationCapacity] = L"";
    if (!fits && appendStillShared(alone, false))
        tellUser(alone, errorCaption, MB_ICONWARNING);
}

// The run's last box: what the way out means for the user, and what could
// not be given back.
void tellHowItEnded(RunEnd how, const JobRemoval &partial, const Withdrawal &withdrawal, bool stillShared)
{
    WCHAR text[confirmationCapacity] = L"";
    switch (how) {
    case EndCopyStopped:
        // Nothing is copying any more.
        SetWindowTextW(upgradeState.statusText, stoppedText);
        // A piece that does not fit leaves the box without its last lines
        // rather than without its warning.
        if (!composeStopped(text, partial, withdrawal))
            copyText(text, withdrawal.withdrawn || partial.result == JobRemoval::NotNeeded ? stoppedText
                                                                                          : stoppedStart);
        tellWithStillShared(text, MB_ICONWARNING, stillShared);
        return;
    case EndFailure:
        copyText(text, failureText);
        if (withdrawal.withdrawn)
            appendWhole(text, [&] { return appendWithdrawal(text, withdrawal); });
        tellWithStillShared(text, MB_ICONERROR, stillShared);
        return;
    case EndClosed:
    case EndWaitStopped:
        if (stillShared && appendStillShared(text, false))
            tellUser(text, errorCaption, MB_ICONWARNING);
        return;
    case EndSessionEnding:
        return;
    }
}

}  // namespace

bool appendStillShared(WCHAR (&text)[confirmationCapacity], bool onNewLine)
{
    return appendWhole(text, [&] {
        return (!onNewLine || appendText(text, L"\n")) && appendText(text, stillSharedStart) &&
               appendText(text, upgradeState.selectedQueue.printerName) && appendText(text, stillSharedMiddle) &&
               appendText(text, upgradeState.targetShareName) && appendText(text, stillSharedEnd);
    });
}

void endRun(HWND dialog, RunEnd how)
{
    const bool quiet = how == EndSessionEnding || upgradeState.phase == PhaseClosing;
    // The user's answer to stop promised that the sharing goes at once.
    const bool stopAnswered = upgradeState.phase == PhaseStopping;
    KillTimer(dialog, IDT_REBOOT_WAIT);
    stopCopyInFlight();
    releaseFirmwareFiles();
    const JobRemoval partial = removeUnfinishedCopysJob();
    // A stage the queue still holds is taken back; where something of it
    // may be left, the queue stays paused while the last box is open.
    const Withdrawal withdrawal = withdrawHeldStage(!quiet && partialJobUntold(partial));
    // A stage taken back has nothing in the queue to wait for.
    const bool atOnce = stopAnswered || upgradeState.heldStageWithdrawn;

    bool stillShared = false;
    if (restoreDue()) {
        RestoreOutcome restored = RestoreStopped;
        if (how == EndClosed && !quiet && !atOnce && enterPhase(PhaseRestoring)) {
            restored = restoreSharing();
            // A restore that stopped short (the queue could not be opened or
            // read) is tried once more before the window goes.
            if (restored == RestoreFailed && restoreDue())
                restored = restoreSharing();
        }
        // Where the way out does not wait, or the user stopped the wait.
        if (restored == RestoreStopped && restoreDue())
            restoreSharingAtOnce();
        stillShared = upgradeState.sharingNotPutBack != 0;
    }

    // The session may have ended during the wait for the jobs; that end
    // has destroyed the window already.
    const bool endedMeanwhile = upgradeState.phase == PhaseClosing;
    enterPhase(PhaseClosing);
    if (!quiet && !endedMeanwhile)
        tellHowItEnded(how, partial, withdrawal, stillShared);
    resumeHeldQueue();
    if (IsWindow(dialog))
        DestroyWindow(dialog);
}

// Shows nothing it cannot compose: a box is only a help here.
void endRunAtOnce(HWND dialog) noexcept
{
    KillTimer(dialog, IDT_REBOOT_WAIT);
    stopCopyInFlight();
    releaseFirmwareFiles();
    // The copy in flight left a job that is not taken out here: a held
    // queue stays paused while the box asks the user to look at it.
    const Withdrawal withdrawal = withdrawHeldStage(upgradeState.copyUnfinished != 0);
    const bool stillShared = restoreDue() && !restoreSharingAtOnce();
    const bool endedMeanwhile = upgradeState.phase == PhaseClosing;
    enterPhase(PhaseClosing);
    // What could not be given back: a job that may hold part of a file (the
    // removal is what failed, or never came) and sharing still in place.
    WCHAR text[confirmationCapacity];
    const JobRemoval left = {upgradeState.copyUnfinished ? JobRemoval::NotDeleted : JobRemoval::NotNeeded, 0, 0};
    // A stage taken back has reached the printer in no part: the words for
    // it say what to look at.
    if (!endedMeanwhile && copyText(text, failureText) &&
        (withdrawal.withdrawn ? appendWithdrawal(text, withdrawal) : appendPartialJob(text, left)) &&
        (!stillShared || appendStillShared(text, true)))
        tellUser(text, errorCaption, MB_ICONERROR);
    resumeHeldQueue();
    if (IsWindow(dialog))
        DestroyWindow(dialog);
}

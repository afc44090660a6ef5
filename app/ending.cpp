#include "app/ending.h"

#include "app/phase.h"
#include "app/resources/resource.h"
#include "base/boxes.h"
#include "base/state.h"
#include "base/text.h"
#include "base/wait.h"
#include "delivery/sharing.h"
#include "delivery/transfer.h"

namespace {

const WCHAR errorCaption[] = L"Firmware Upgrade Error";

const WCHAR stoppedStart[] =
    L"The firmware upgrade has been stopped.\nThe printer may have received part of a firmware file.";
const WCHAR stoppedEnd[] = L" Switch the printer off and on again, then run the upgrade again.";

const WCHAR failureText[] =
    L"An unexpected error has stopped the upgrade tool.\nThe printer firmware may not have been updated completely.";

const WCHAR stillSharedStart[] = L"The printer ";
const WCHAR stillSharedMiddle[] = L" is still shared as ";
const WCHAR stillSharedEnd[] = L": the tool could not stop sharing it. Stop sharing it in the printer's properties.";


bool composeStopped(WCHAR (&text)[confirmationCapacity], const PartialJobReport &partial)
{
    return copyText(text, stoppedStart) && appendPartialJob(text, partial) && appendText(text, stoppedEnd);
}

// The run's last box: what the way out means for the user, and what could
// not be given back.
void tellHowItEnded(RunEnd how, const PartialJobReport &partial, bool stillShared)
{
    WCHAR text[confirmationCapacity] = L"";
    switch (how) {
    case EndCopyStopped:
        // A piece that does not fit leaves the box without its last lines
        // rather than without its warning.
        if (!composeStopped(text, partial))
            copyText(text, stoppedStart);
        if (stillShared)
            appendStillShared(text, true);
        tellUser(text, errorCaption, MB_ICONWARNING);
        return;
    case EndFailure:
        copyText(text, failureText);
        if (stillShared)
            appendStillShared(text, true);
        tellUser(text, errorCaption, MB_ICONERROR);
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
    return (!onNewLine || appendText(text, L"\n")) && appendText(text, stillSharedStart) &&
           appendText(text, upgradeState.selectedQueue.printerName) && appendText(text, stillSharedMiddle) &&
           appendText(text, upgradeState.targetShareName) && appendText(text, stillSharedEnd);
}

void endRun(HWND dialog, RunEnd how)
{
    const bool quiet = how == EndSessionEnding || upgradeState.phase == PhaseClosing;
    KillTimer(dialog, IDT_REBOOT_WAIT);
    stopCopyInFlight();
    releaseFirmwareFiles();
    const PartialJobReport partial = removeCutShortJob();

    bool stillShared = false;
    if (restoreDue()) {
        RestoreOutcome restored = RestoreStopped;
        if (how == EndClosed && !quiet && enterPhase(PhaseRestoring)) {
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
        tellHowItEnded(how, partial, stillShared);
    if (IsWindow(dialog))
        DestroyWindow(dialog);
}

void endRunAtOnce(HWND dialog) noexcept
{
    KillTimer(dialog, IDT_REBOOT_WAIT);
    stopCopyInFlight();
    releaseFirmwareFiles();
    if (restoreDue())
        restoreSharingAtOnce();
    enterPhase(PhaseClosing);
    if (IsWindow(dialog))
        DestroyWindow(dialog);
}

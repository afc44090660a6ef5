#include "app/stages.h"

#include "app/details.h"
#include "app/messages.h"
#include "base/boxes.h"
#include "base/text.h"
#include "delivery/copy.h"
#include "delivery/firmware_files.h"
#include "delivery/holding.h"
#include "delivery/print_jobs.h"
#include "delivery/sharing.h"

#include <strsafe.h>

#include <vector>

const WCHAR copyingText[] = L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.";

namespace {

const WCHAR diskFileText[] =
    L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.\n"
    L"Please wait while printer is upgrading disk file.";

// Takes back the stage the queue holds, if any, shows `text` with what that
// means for the printer, and lets the queue go once the box is read: where
// something the copies left may still be in it (`untold`), the user looks at
// it first.
void tellStageEnded(WCHAR (&text)[confirmationCapacity], const JobRemoval &partial, bool untold)
{
    const Withdrawal withdrawal = withdrawHeldStage(untold || partialJobUntold(partial));
    SetWindowTextW(upgradeState.statusText, stoppedText);
    const bool composed = withdrawal.withdrawn ? appendWithdrawal(text, withdrawal) : appendPartialJob(text, partial);
    tellCancelled(composed ? text : nullptr);
    resumeHeldQueue();
}

// A copy that failed after it started may have left part of the file in
// the queue: it goes before the box, and before anything waits for the
// queue to empty, so that the printer never gets it.
void tellCopyFailed(const CopyResult &copy)
{
    const JobRemoval partial = removeUnfinishedCopysJob();
    // The number is Windows' error where a step of the tool failed, and
    // COPY's exit code where the copy itself did.
    const DWORD number = copy.error != 0 ? copy.error : copy.exitCode;
    WCHAR text[confirmationCapacity];
    if (FAILED(StringCchPrintfW(text, ARRAYSIZE(text), L"Error %d copying Firmware files to printer!",
                                static_cast<int>(number))))
        text[0] = L'\0';
    tellStageEnded(text, partial, false);
}

// A held stage that cannot be released whole is taken back: the printer
// gets none of it.
StageOutcome tellHeldStageFailed(bool composed, WCHAR (&text)[confirmationCapacity], bool untold)
{
    if (!composed)
        text[0] = L'\0';
    tellStageEnded(text, {JobRemoval::NotNeeded, 0, 0}, untold);
    return StageFailed;
}

// "The print queue <queue><middle><file><end>", and the like.
bool composeAboutFile(WCHAR (&text)[confirmationCapacity], const WCHAR *start, const WCHAR *middle,
                      const WCHAR *file, const WCHAR *end)
{
    return composeNamingQueue(text, start, middle) && appendText(text, file) && appendText(text, end);
}

// The copy went through, but which of the queue's documents is its own
// cannot be told, so its arrival cannot be checked; and the documents that
// are not told are not the tool's to delete.
StageOutcome noteHeldCopy(const WCHAR *file, ULONGLONG size)
{
    const CopysJob job = noteCopysJob(file, size);
    if (job.result == CopysJob::Found)
        return StageSent;
    WCHAR text[confirmationCapacity], middle[64];
    bool composed;
    if (job.result == CopysJob::Unlisted)
        composed = composeAboutFile(text, L"The documents in the print queue ",
                                    L" could not be listed after the copy of ", file,
                                    L", so its arrival cannot be checked.");
    else
        composed = SUCCEEDED(StringCchPrintfW(middle, ARRAYSIZE(middle),
                                              L" received %lu document(s) during the copy of ",
                                              static_cast<unsigned long>(job.added))) &&
                   composeAboutFile(text, L"The print queue ", middle, file,
                                    L", and none of them could be told to be the firmware's, so its arrival cannot be "
                                    L"checked.");
    return tellHeldStageFailed(composed, text, true);
}

// Every file of the held stage is in the queue: once each is whole it goes
// to the printer, first and in order.
StageOutcome releaseStage(const std::vector<const WCHAR *> &files)
{
    const HeldStageCheck check = checkHeldStage();
    WCHAR text[confirmationCapacity], end[64];
    bool composed = false;
    switch (check.result) {
    case HeldStageCheck::Whole:
        if (releaseHeldStage()) {
            upgradeState.filesSent.insert(upgradeState.filesSent.end(), files.begin(), files.end());
            return StageSent;
        }
        composed = composeNamingQueue(text, L"The firmware documents in the print queue ",
                                      L" could not be put first, or the queue could not be resumed.");
        break;
    case HeldStageCheck::Missing:
        composed = composeAboutFile(text, L"The print queue ", L" no longer holds the document of ", check.file, L".");
        break;
    case HeldStageCheck::NotWhole:
        composed = SUCCEEDED(StringCchPrintfW(end, ARRAYSIZE(end), L" whole (its document holds %lu bytes).",
                                              static_cast<unsigned long>(check.size))) &&
                   composeAboutFile(text, L"The print queue ", L" did not take ", check.file, end);
        break;
    case HeldStageCheck::Unlisted:
        composed = composeNamingQueue(text, L"The documents in the print queue ",
                                      L" could not be listed, so the arrival of the firmware files cannot be checked.");
        break;
    }
    return tellHeldStageFailed(composed, text, false);
}

StageOutcome sendFile(const WCHAR *file, const WCHAR *shareName)
{
    WCHAR commandLine[nameCapacity];
    if (!buildCopyCommandLine(commandLine, file, shareName)) {
        tellShareNameUnusable(shareName);
        return StageFailed;
    }
    // The size the file's job must have in a held stage, read while the file
    // is still held.
    ULONGLONG size = 0;
    heldFirmwareSize(file, size);
    const CopyResult copy = runCopy(commandLine);
    releaseFirmwareFile(file);
    if (copy.end == CopyResult::Sent) {
        if (upgradeState.queueHeld)
            return noteHeldCopy(file, size);
        upgradeState.filesSent.push_back(file);
        return StageSent;
    }
    // The session ends: Windows ends the process once its handler returns,
    // and that end takes the partial job out; nothing is shown.
    if (copy.end == CopyResult::CutShort || upgradeState.phase == PhaseClosing)
        return StageStopped;
    tellCopyFailed(copy);
    return StageFailed;
}

// Where the stage is to be held and the spooler refuses, it goes as an
// unheld stage would, and the details say so.
void holdStage()
{
    if (upgradeState.stageHold != HoldPlanned || holdQueue())
        return;
    upgradeState.stageHold = HoldRefused;
    refreshUpgradeDetails();
}

// One file after another. The user's stop takes effect between two files at
// the latest. In a held stage nothing has reached the printer before the
// release, so a stop up to then takes the whole stage back. Otherwise a file
// whose copy went through stays sent, and nothing more goes out; only where
// nothing was left to send does the run end as one that went through.
StageOutcome sendFiles(const std::vector<const WCHAR *> &files, bool lastStage)
{
    const WCHAR *shareName = copyShareName();
    holdStage();
    for (const WCHAR *file : files) {
        if (runEnding())
            return StageStopped;
        const StageOutcome sent = sendFile(file, shareName);
        if (sent != StageSent)
            return sent;
    }
    const bool stopped = upgradeState.phase == PhaseStopping;
    if (upgradeState.phase == PhaseClosing || (stopped && (upgradeState.queueHeld || !lastStage)))
        return StageStopped;
    return upgradeState.queueHeld ? releaseStage(files) : StageSent;
}

}  // namespace

void planStageHold()
{
    upgradeState.stageHold = queueHoldability();
}

const WCHAR *copyShareName()
{
    const PrintQueueRecord &queue = upgradeState.selectedQueue;
    return queue.isShared ? queue.shareName : upgradeState.targetShareName;
}

void tellShareNameUnusable(const WCHAR *shareName)
{
    tellCancelledNaming(L"The share name ", shareName, L" of the printer cannot be used to copy firmware.");
}

bool composeMustBeShared(WCHAR (&text)[nameCapacity])
{
    return copyText(text, L"In order to continue with upgrade, the printer <") &&
           appendText(text, upgradeState.targetShareName) && appendText(text, L"> must be shared");
}

StageOutcome runFirstStage()
{
    const FirmwareKind kind = upgradeState.firmwareKind;
    if (!upgradeState.selectedQueue.isShared && !shareQueue()) {
        WCHAR text[nameCapacity];
        if (composeMustBeShared(text))
            tellUser(text, informationCaption, MB_ICONWARNING);
        return StageRefused;
    }
    refreshUpgradeDetails();

    SetWindowTextW(upgradeState.statusText, kind == FirmwareDiskStaged ? diskFileText : copyingText);
    const StageOutcome sent = sendFiles(firstStageFiles(kind), secondStageFiles(kind).empty());
    // A disk-staged upgrade is not finished until the files that follow the
    // printer's reboot have gone out too.
    if (sent == StageSent && kind == FirmwareDiskStaged)
        upgradeState.upgradeFinished = 0;
    return sent;
}

StageOutcome runSecondStage()
{
    const StageOutcome sent = sendFiles(secondStageFiles(upgradeState.firmwareKind), true);
    if (sent == StageSent)
        upgradeState.upgradeFinished = 1;
    return sent;
}

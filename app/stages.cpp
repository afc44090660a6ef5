#include "app/stages.h"

#include "app/messages.h"
#include "base/boxes.h"
#include "base/text.h"
#include "delivery/copy.h"
#include "delivery/firmware_files.h"
#include "delivery/print_jobs.h"
#include "delivery/sharing.h"

#include <strsafe.h>

#include <vector>

const WCHAR copyingText[] = L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.";

namespace {

const WCHAR diskFileText[] =
    L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.\n"
    L"Please wait while printer is upgrading disk file.";

// A copy that failed after it started may have left part of the file in
// the queue: it goes before the box, and before anything waits for the
// queue to empty, so that the printer never gets it.
void tellCopyFailed(const CopyResult &copy)
{
    const PartialJobReport partial = removeCutShortJob();
    WCHAR text[confirmationCapacity];
    const bool composed = SUCCEEDED(StringCchPrintfW(text, ARRAYSIZE(text),
                                                     L"Error %d copying Firmware files to printer!",
                                                     static_cast<int>(copy.error))) &&
                          appendPartialJob(text, partial);
    tellCancelled(composed ? text : nullptr);
}

StageOutcome sendFile(const WCHAR *file, const WCHAR *shareName)
{
    WCHAR commandLine[nameCapacity];
    if (!buildCopyCommandLine(commandLine, file, shareName)) {
        tellShareNameUnusable(shareName);
        return StageFailed;
    }
    const CopyResult copy = runCopy(commandLine);
    releaseFirmwareFile(file);
    if (copy.end == CopyResult::Sent) {
        upgradeState.filesSent.push_back(file);
        return StageSent;
    }
    // A copy that did not go through may have left part of its file in the
    // queue, unless its interpreter never started.
    upgradeState.copyCutShort = copy.started ? 1 : 0;
    // The session ends: Windows ends the process once its handler returns,
    // and that end takes the partial job out; nothing is shown.
    if (copy.end == CopyResult::CutShort || upgradeState.phase == PhaseClosing)
        return StageStopped;
    tellCopyFailed(copy);
    return StageFailed;
}

// One file after another. The user's stop takes effect between two files at
// the latest: a file whose copy went through stays sent, and nothing more
// goes out. Only where nothing was left to send does the run end as one
// that went through.
StageOutcome sendFiles(const std::vector<const WCHAR *> &files, bool lastStage)
{
    const WCHAR *shareName = copyShareName();
    for (const WCHAR *file : files) {
        if (runEnding())
            return StageStopped;
        const StageOutcome sent = sendFile(file, shareName);
        if (sent != StageSent)
            return sent;
    }
    if (upgradeState.phase == PhaseClosing || (upgradeState.phase == PhaseStopping && !lastStage))
        return StageStopped;
    return StageSent;
}

}  // namespace

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
            tellUser(text, L"Information", MB_ICONWARNING);
        return StageRefused;
    }

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

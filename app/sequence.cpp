// One upgrade run, as the handling of the dialog's start message: search for
// the printer, find its queue, confirm, send the first stage, report.
#include "app/sequence.h"

#include "app/ending.h"
#include "app/chooser.h"
#include "app/details.h"
#include "app/messages.h"
#include "app/phase.h"
#include "app/readiness.h"
#include "app/stages.h"
#include "app/resources/resource.h"
#include "base/boxes.h"
#include "base/state.h"
#include "base/text.h"
#include "base/wait.h"
#include "delivery/firmware_files.h"
#include "delivery/sharing.h"
#include "identify/discovery.h"
#include "identify/queues.h"

#include <cwchar>
#include <utility>

const WCHAR firmwareCopiedText[] =
    L"Firmware files have been successfully copied to the printer, please follow steps on printer front panel to "
    L"complete upgrade.\nClick Ok to finish.";

namespace {

const WCHAR searchingText[] =
    L"Searching for Tarnell Vellumax 350/650 series printer. Please connect your printer to this computer with a "
    L"USB cable";
const WCHAR notDetectedText[] =
    L"A compatible printer can not be detected. Please connect your printer to this computer with a USB cable. "
    L"Press Ok to continue";
const WCHAR notDetectedBoxText[] =
    L"Printer not detected, please connect your printer to this computer with a USB cable. Press Ok to continue";
const WCHAR noQueueText[] =
    L"In order to continue, the Tarnell Vellumax 350/650 driver must be installed on this computer.\n"
    L"The printer firmware hasn't been updated";
const WCHAR noQueueBoxText[] = L"Queue not installed, please install queue. Firmware not upgraded";
const WCHAR notUpgradedText[] = L"The printer firmware hasn't been updated";
const WCHAR confirmationBoxText[] = L"Are you sure that you want to upgrade firmware?";
const WCHAR cancelledText[] = L"Firmware update has been cancelled.\nClick Ok to Finish.";

const WCHAR confirmationStart[] = L"Firmware A.05.01 is going to be copied to ";
const WCHAR confirmationPort[] = L" connected on USB port ";
const WCHAR confirmationWarning[] =
    L".\nWarning! Check that installed firmware version is A.02.06 or newer before proceeding further. Contact "
    L"Tarnell support if printer firmware version is lower than A.02.06.";

// The share and port names are bounded by their own buffers, so the
// confirmation always fits; this fails only if the fixed texts grow.
static_assert((ARRAYSIZE(confirmationStart) - 1) + (ARRAYSIZE(confirmationPort) - 1) +
                      (ARRAYSIZE(confirmationWarning) - 1) + 2 * (nameCapacity - 1) + 1 <=
                  confirmationCapacity,
              "the confirmation text must always fit");

const UINT rebootWaitTickMs = 1800;

// The device library's failure, named after the not-detected question: without
// it a missing or 32-bit/64-bit mismatched library would look like a cable
// that is not plugged in, for ever.
void composeNotDetectedBox(WCHAR (&text)[confirmationCapacity])
{
    const DWORD error = upgradeState.libraryError;
    if (!copyText(text, notDetectedBoxText) || error == ERROR_SUCCESS)
        return;
    WCHAR reason[nameCapacity] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  reason, ARRAYSIZE(reason), nullptr);
    // The system's texts end in a full stop and a line break. Some have
    // inserts ("%1 is not a valid Win32 application." for 193) that would
    // show as they are: then the number alone.
    while (length > 0 && std::wcschr(L"\r\n .", reason[length - 1]) != nullptr)
        reason[--length] = L'\0';
    if (std::wcschr(reason, L'%') != nullptr)
        length = 0;
    WCHAR number[32];
    bool composed = appendText(text, L"\n\nThe device library vxprobe.dll could not be loaded") &&
                    (length == 0 || (appendText(text, L": ") && appendText(text, reason))) &&
                    SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number), L" (error %lu).",
                                               static_cast<unsigned long>(error))) &&
                    appendText(text, number);
    // Without the line the box still asks the question it always asked.
    if (!composed)
        copyText(text, notDetectedBoxText);
}

const DWORD pauseBeforeAttempt = 5000;
const DWORD pauseAfterFailedAttempt = 1000;

// Returns true once a printer has been found, false when the user gave up;
// the dialog has then been destroyed. There is no limit on the attempts.
bool searchForPrinter(HWND dialog)
{
    for (;;) {
        SetWindowTextW(upgradeState.statusText, searchingText);
        waitResponsive(nullptr, pauseBeforeAttempt);
        if (!IsWindow(dialog))
            return false;
        if (detectPrinter())
            return true;

        SetWindowTextW(upgradeState.statusText, notDetectedText);
        WCHAR boxText[confirmationCapacity];
        composeNotDetectedBox(boxText);
        enterPhase(PhaseAsking);
        int answer = askUser(boxText, printerErrorCaption, MB_OKCANCEL | MB_ICONWARNING);
        // Only Ok means "search again". A box that could not be shown must
        // not leave an invisible process searching for ever.
        bool givenUp = answer != IDOK || !IsWindow(dialog);
        if (givenUp)
            endRun(dialog, EndClosed);
        else
            enterPhase(PhaseSearching);
        waitResponsive(nullptr, pauseAfterFailedAttempt);
        if (givenUp)
            return false;
    }
}

bool composeConfirmation(WCHAR (&text)[confirmationCapacity])
{
    return copyText(text, confirmationStart) && appendText(text, upgradeState.targetShareName) &&
           appendText(text, confirmationPort) && appendText(text, upgradeState.portName) &&
           appendText(text, confirmationWarning);
}

// True when the user has agreed to the upgrade of the queue they were shown.
bool confirmUpgrade()
{
    WCHAR text[confirmationCapacity];
    if (!composeConfirmation(text))
        return false;
    SetWindowTextW(upgradeState.statusText, text);

    enterPhase(PhaseAsking);
    int answer = askUser(confirmationBoxText, confirmationCaption, MB_OKCANCEL | MB_ICONQUESTION);
    // Anything but a plain Ok (a box that failed) counts as a decline:
    // firmware is never sent without consent.
    return answer == IDOK;
}

// The printer takes the disk file and reboots; the dialog's timer fills the
// bar meanwhile, and the queue stays shared for the second stage.
void startRebootWait(HWND dialog)
{
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_SHOW);
    enterPhase(PhaseRebootWait);
    refreshUpgradeDetails();
    SetTimer(dialog, IDT_REBOOT_WAIT, rebootWaitTickMs, nullptr);
}

// What follows a transfer stage: the reboot wait, or the sharing put back
// and the final text; or, when the stage could not finish, the end.
void finishStage(HWND dialog, StageOutcome outcome)
{
    switch (outcome) {
    case StageRefused:
    case StageFailed:
        endRun(dialog, EndClosed);
        return;
    case StageStopped:
        // The user stopped the upgrade, or the session ended (which has
        // ended the run already).
        endRun(dialog, EndCopyStopped);
        return;
    case StageSent:
        break;
    }
    if (upgradeState.firmwareKind == FirmwareDiskStaged && !upgradeState.upgradeFinished)
        startRebootWait(dialog);
    else
        finishRun(dialog);
}

// Two records of different models on one port: which firmware the printer
// needs cannot be told, and the wrong one must not be sent.
bool composeTwoModelsBox(WCHAR (&text)[2 * confirmationCapacity])
{
    return copyText(text, L"The printer on USB port ") && appendText(text, upgradeState.portName) &&
           appendText(text, L" reports two models, which need different firmware, so the firmware it needs cannot "
                            L"be told. Firmware not upgraded");
}

// Only pools print to the port: the spooler hands each of a pool's jobs to
// whichever of its printers is free, so firmware sent there may reach the
// printer on another port.
bool composePoolBox(WCHAR (&text)[2 * confirmationCapacity])
{
    return copyText(text, L"The print queue ") &&
           appendText(text, upgradeState.pooledQueues.back().printerName) &&
           appendText(text, L" prints to USB port ") && appendText(text, upgradeState.portName) &&
           appendText(text, L" and to other ports as well (printer pooling). Firmware cannot be sent through a pool, "
                            L"because the spooler may hand it to the printer on another port. Install a print queue "
                            L"for USB port ") &&
           appendText(text, upgradeState.portName) && appendText(text, L" alone. Firmware not upgraded");
}

// The run's printer has one model and a queue of its port alone; otherwise
// the user is told why not, with nothing changed. The queues found are left
// in foundQueues.
bool printerCanBeUpgraded()
{
    const FoundPrinter *printer = runPrinter();
    WCHAR text[2 * confirmationCapacity];
    if (printer && printer->firmwareKind == FirmwareNone) {
        if (composeTwoModelsBox(text)) {
            SetWindowTextW(upgradeState.statusText, notUpgradedText);
            enterPhase(PhaseAsking);
            tellUser(text, printerErrorCaption, MB_ICONWARNING);
        }
        return false;
    }
    upgradeState.foundQueues = findPrintQueues();
    if (!upgradeState.foundQueues.empty())
        return true;
    if (!upgradeState.pooledQueues.empty()) {
        if (composePoolBox(text)) {
            SetWindowTextW(upgradeState.statusText, notUpgradedText);
            enterPhase(PhaseAsking);
            tellUser(text, printerErrorCaption, MB_ICONWARNING);
        }
        return false;
    }
    SetWindowTextW(upgradeState.statusText, noQueueText);
    enterPhase(PhaseAsking);
    tellUser(noQueueBoxText, printerErrorCaption, MB_ICONWARNING);
    return false;
}

// The queue named in the confirmation must be the one that is shared,
// restored and copied to. The lookup leaves the last queue on the port in
// selectedQueue, and sharing works on that one, so the share name comes from
// it too (not from the first queue found): with several queues on the port,
// none of them shared, the copies would otherwise go to a share that does
// not exist. Everything that can be checked without changing anything is
// checked before the user is asked; false after the box that says why not.
bool upgradeCanBeAsked(HWND dialog)
{
    showPrinterFound();
    if (!copyText(upgradeState.targetShareName, upgradeState.selectedQueue.shareName))
        return false;
    // Held before their sizes are shown: the files the user confirms are the
    // files that are sent.
    const FilesCheck files = holdFirmwareFiles(upgradeState.firmwareKind);
    planStageHold();
    showUpgradeDetails();
    return upgradeCanStart(files) && queueAndPowerReady(dialog);
}

}  // namespace

void runUpgradeSequence(HWND dialog)
{
    enterPhase(PhaseSearching);
    if (!searchForPrinter(dialog))
        return;
    if (!choosePrinter(dialog) || !printerCanBeUpgraded() || !upgradeCanBeAsked(dialog)) {
        endRun(dialog, EndClosed);
        return;
    }

    if (!confirmUpgrade()) {
        // Nothing will be sent: other programs may have the files back now,
        // not only once the cancelled text has been read.
        releaseFirmwareFiles();
        if (!IsWindow(dialog))
            return;
        SetWindowTextW(upgradeState.statusText, cancelledText);
        // They said what would happen; nothing has.
        SetWindowTextW(upgradeState.detailText, L"");
        // Ok now closes the tool, even for a printer whose upgrade has a
        // second stage: in this phase Ok means nothing else.
        enterPhase(PhaseFinished);
        return;
    }

    // From here until the sharing is back the computer must not sleep or
    // shut down (app/phase.cpp).
    enterPhase(PhaseCopying);
    SetWindowTextW(upgradeState.statusText, copyingText);
    finishStage(dialog, runFirstStage());
}

void sendSecondStage(HWND dialog)
{
    // The reboot wait is over and the user has rebooted the printer.
    SetWindowTextW(upgradeState.detailText, L"");
    enterPhase(PhaseCopying);
    finishStage(dialog, runSecondStage());
}

void finishRun(HWND dialog)
{
    // The user's stop came once the last file had gone through: the run
    // ends as done, and the sharing goes at once, as every stop promises.
    if (restoreDue() && upgradeState.phase == PhaseStopping)
        restoreSharingAtOnce();
    if (restoreDue()) {
        enterPhase(PhaseRestoring);
        // Stopped: the user chose not to wait for the printer, or the
        // session ends.
        if (restoreSharing() == RestoreStopped) {
            endRun(dialog, EndWaitStopped);
            return;
        }
    }
    enterPhase(PhaseFinished);
    refreshUpgradeDetails();
    WCHAR text[confirmationCapacity];
    if (upgradeState.sharingNotPutBack && copyText(text, firmwareCopiedText) && appendStillShared(text, true))
        SetWindowTextW(upgradeState.statusText, text);
    else
        SetWindowTextW(upgradeState.statusText, firmwareCopiedText);
}

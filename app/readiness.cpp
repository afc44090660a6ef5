// A queue that keeps its jobs, a user who may not share it, or a battery
// that runs out would each leave the firmware stuck or the printer half
// upgraded; the user hears of them before agreeing to anything.
#include "app/readiness.h"

#include "app/messages.h"
#include "app/phase.h"
#include "app/stages.h"
#include "base/boxes.h"
#include "base/state.h"
#include "base/text.h"
#include "delivery/copy.h"
#include "delivery/firmware_files.h"
#include "delivery/sharing.h"

#include <winspool.h>
#include <strsafe.h>

namespace {

constexpr size_t length(const WCHAR *text)
{
    size_t n = 0;
    while (text[n] != L'\0')
        ++n;
    return n;
}

constexpr WCHAR foundStart[] = L"Found the printer on USB port ";
constexpr WCHAR foundMiddle[] = L" and its print queue ";
constexpr WCHAR foundEnd[] = L".\nChecking that the upgrade can start...";

constexpr WCHAR queueStart[] = L"The print queue ";
constexpr WCHAR offlineEnd[] =
    L" is set to Use Printer Offline, so it would keep the firmware instead of sending it to the printer.\n"
    L"Turn off \"Use Printer Offline\" in the queue's Printer menu, then start the upgrade again.";
constexpr WCHAR pausedEnd[] =
    L" is paused, so it would keep the firmware instead of sending it to the printer.\n"
    L"Resume it (Pause Printing in the queue's Printer menu), then start the upgrade again.";
constexpr WCHAR deniedEnd[] =
    L" must be shared for the upgrade, and sharing it needs the right to manage printers.\n"
    L"Start the tool as an administrator, or share the queue first in the printer's properties (Sharing), then "
    L"start the upgrade again.";
constexpr WCHAR datatypeMiddle[] = L" gives its documents to the printer as ";
constexpr WCHAR datatypeEnd[] =
    L" data, which would change the firmware on its way to the printer.\n"
    L"Choose RAW as its default data type (the printer's properties, Advanced, Print Processor), then start the "
    L"upgrade again.";
constexpr WCHAR jobsEnd[] =
    L" already holds jobs that have not printed. The firmware would wait behind them, and a stuck job would keep "
    L"it from the printer.\nLet the waiting jobs print, or cancel them in the queue's window.";

constexpr WCHAR problemStart[] = L"The printer of the print queue ";
constexpr WCHAR problemMiddle[] = L" reports: ";
constexpr WCHAR problemEnd[] =
    L".\nFix the printer first (power, paper, ink, covers, the message on its front panel). Some drivers report a "
    L"problem that is not there.";

constexpr WCHAR batteryText[] =
    L"This computer is running on battery, with %u%% left. It must not run out of power during the upgrade, or "
    L"the printer may be left half upgraded.\nConnect it to mains power.";

constexpr WCHAR goOnAnywayLine[] = L"\nPress Ok to upgrade anyway, or Cancel to stop.";

// The printer's states that keep it from taking jobs. Drivers differ in
// which they report, and some report one that is not there, so they are
// named and the user decides.
struct PrinterProblem {
    DWORD bit;
    const WCHAR *name;
};
constexpr PrinterProblem printerProblems[] = {
    {PRINTER_STATUS_OFFLINE, L"offline"},
    {PRINTER_STATUS_PAPER_JAM, L"paper jam"},
    {PRINTER_STATUS_PAPER_OUT, L"out of paper"},
    {PRINTER_STATUS_PAPER_PROBLEM, L"paper problem"},
    {PRINTER_STATUS_DOOR_OPEN, L"door open"},
    {PRINTER_STATUS_OUTPUT_BIN_FULL, L"output bin full"},
    {PRINTER_STATUS_NO_TONER, L"out of ink or toner"},
    {PRINTER_STATUS_USER_INTERVENTION, L"needs attention"},
    {PRINTER_STATUS_NOT_AVAILABLE, L"not available"},
    {PRINTER_STATUS_OUT_OF_MEMORY, L"out of memory"},
    {PRINTER_STATUS_ERROR, L"error"},
};

constexpr size_t longestProblemList()
{
    size_t total = 0;
    for (const PrinterProblem &problem : printerProblems)
        total += length(problem.name) + 2;  // ", "
    return total;
}

// A queue name, like every name, is below nameCapacity characters.
constexpr size_t messageCapacity = confirmationCapacity;
static_assert(length(foundStart) + length(foundMiddle) + length(foundEnd) + 2 * (nameCapacity - 1) + 1 <=
                  messageCapacity,
              "the found text must always fit");
static_assert(length(problemStart) + length(problemMiddle) + longestProblemList() + length(problemEnd) +
                      length(goOnAnywayLine) + nameCapacity <=
                  messageCapacity,
              "the longest printer problem text must always fit");
constexpr bool fitsNamingQueue(const WCHAR *end, size_t more = 0)
{
    return length(queueStart) + length(end) + more + nameCapacity <= messageCapacity;
}
static_assert(fitsNamingQueue(datatypeEnd, length(datatypeMiddle) + 64 + 2), "the data type text must always fit");
static_assert(fitsNamingQueue(offlineEnd) && fitsNamingQueue(pausedEnd) && fitsNamingQueue(deniedEnd) &&
                  fitsNamingQueue(jobsEnd, length(goOnAnywayLine)),
              "the queue texts must always fit");

// Null: the ending alone (a text that could not be composed). Nothing will
// be sent: other programs have the firmware files back before the box, not
// once it has been read.
bool refuse(const WCHAR *text)
{
    releaseFirmwareFiles();
    enterPhase(PhaseAsking);
    tellCancelled(text);
    return false;
}

bool refuseNaming(const WCHAR *start, const WCHAR *name, const WCHAR *end)
{
    releaseFirmwareFiles();
    enterPhase(PhaseAsking);
    tellCancelledNaming(start, name, end);
    return false;
}

// Cancel is the default: an Enter pressed out of habit must not send the
// firmware past a warning. Anything but a clear Ok, or a window closed
// meanwhile, stops.
bool goOnAnyway(HWND dialog, WCHAR (&text)[messageCapacity])
{
    if (!appendText(text, goOnAnywayLine))
        return refuse(nullptr);
    enterPhase(PhaseAsking);
    int answer = askUser(text, warningCaption, MB_OKCANCEL | MB_DEFBUTTON2 | MB_ICONWARNING);
    return answer == IDOK && IsWindow(dialog);
}

bool refuseNamingQueue(const WCHAR *end)
{
    WCHAR text[messageCapacity];
    if (!composeNamingQueue(text, queueStart, end))
        return refuse(nullptr);
    return refuse(text);
}

bool askNamingQueue(HWND dialog, const WCHAR *end)
{
    WCHAR text[messageCapacity];
    if (!composeNamingQueue(text, queueStart, end))
        return refuse(nullptr);
    return goOnAnyway(dialog, text);
}

// A data type other than plain RAW ("RAW [FF appended]" adds a form feed,
// TEXT and the EMF types interpret the data) would not send the file's bytes.
bool refuseDatatype(const WCHAR *datatype)
{
    WCHAR text[messageCapacity];
    bool composed = composeNamingQueue(text, queueStart, datatypeMiddle);
    composed = composed && (datatype[0] == L'\0' ? appendText(text, L"other than RAW")
                                                  : appendText(text, L"\"") && appendText(text, datatype) &&
                                                        appendText(text, L"\""));
    return refuse(composed && appendText(text, datatypeEnd) ? text : nullptr);
}

bool askAboutProblems(HWND dialog, DWORD status)
{
    WCHAR text[messageCapacity];
    bool composed = composeNamingQueue(text, problemStart, problemMiddle);
    const WCHAR *separator = L"";
    for (const PrinterProblem &problem : printerProblems) {
        if (!(status & problem.bit))
            continue;
        composed = composed && appendText(text, separator) && appendText(text, problem.name);
        separator = L", ";
    }
    if (!composed || !appendText(text, problemEnd))
        return refuse(nullptr);
    return goOnAnyway(dialog, text);
}

const BYTE lowestBatteryPercent = 30;

// Only a known low charge on battery is worth a word: on mains power, without
// a battery or with a charge the system cannot tell, nothing is said.
bool powerWillLast(HWND dialog)
{
    SYSTEM_POWER_STATUS power;
    if (!GetSystemPowerStatus(&power) || power.ACLineStatus != AC_LINE_OFFLINE ||
        (power.BatteryFlag & BATTERY_FLAG_NO_BATTERY) || power.BatteryLifePercent == BATTERY_PERCENTAGE_UNKNOWN ||
        power.BatteryLifePercent >= lowestBatteryPercent)
        return true;
    WCHAR text[messageCapacity];
    if (FAILED(StringCchPrintfW(text, ARRAYSIZE(text), batteryText, unsigned{power.BatteryLifePercent})))
        return refuse(nullptr);
    return goOnAnyway(dialog, text);
}

// What holdFirmwareFiles() found wrong, named with the file or folder.
bool refuseFiles(const FilesCheck &files)
{
    const WCHAR fileStart[] = L"Firmware file ";
    WCHAR end[nameCapacity];
    switch (files.result) {
    case FilesCheck::FilesHeld:
        return true;
    case FilesCheck::FolderUnusable:
        return refuseNaming(L"The firmware files cannot be sent from this folder:\n", files.folder,
                            L"\nCopy the tool and the firmware files to a folder on this computer's own disk and "
                            L"start the tool from there.");
    case FilesCheck::FileMissing:
        return refuseNaming(fileStart, files.file, L" was not found in the tool's folder.");
    case FilesCheck::FileEmpty:
        return refuseNaming(fileStart, files.file, L" is empty.");
    case FilesCheck::FileInUse:
        return refuseNaming(fileStart, files.file,
                            L" is open in another program, so it cannot be sent.\nClose that program, or wait until "
                            L"the download of the file has finished, then start the upgrade again.");
    case FilesCheck::FileDenied:
        return refuseNaming(fileStart, files.file,
                            L" cannot be read: access is denied.\nCheck the file's permissions (or copy the file to "
                            L"this folder again), then start the upgrade again.");
    case FilesCheck::FileUnreadable:
        break;
    }
    if (FAILED(StringCchPrintfW(end, ARRAYSIZE(end), L" cannot be read (error %lu).",
                                static_cast<unsigned long>(files.error))))
        copyText(end, L" cannot be read.");
    return refuseNaming(fileStart, files.file, end);
}

// A queue that was never shared often has no share name at all (Windows
// adds one only when the user shares it), and the tool does not invent one.
// Every command line of both stages, and the must-be-shared text that may
// be shown before them, must be buildable before anything is shared or sent.
bool shareNameUsable()
{
    const PrintQueueRecord &queue = upgradeState.selectedQueue;
    const WCHAR *shareName = copyShareName();
    if (shareName[0] == L'\0')
        return refuseNaming(L"The printer ", queue.printerName,
                            L" has no share name.\nGive it a share name in the printer's properties (Sharing), then "
                            L"start the upgrade again.");
    bool usable = true;
    for (const WCHAR *file : allStageFiles(upgradeState.firmwareKind)) {
        WCHAR commandLine[nameCapacity];
        usable = usable && buildCopyCommandLine(commandLine, file, shareName);
    }
    WCHAR mustBeShared[nameCapacity];
    if (usable && (queue.isShared || composeMustBeShared(mustBeShared)))
        return true;
    releaseFirmwareFiles();
    enterPhase(PhaseAsking);
    tellShareNameUnusable(shareName);
    return false;
}

}  // namespace

void showPrinterFound()
{
    WCHAR text[messageCapacity];
    if (copyText(text, foundStart) && appendText(text, upgradeState.portName) && appendText(text, foundMiddle) &&
        appendText(text, upgradeState.selectedQueue.printerName) && appendText(text, foundEnd))
        SetWindowTextW(upgradeState.statusText, text);
}

bool queueAndPowerReady(HWND dialog)
{
    // A queue that is used offline or paused keeps the firmware for good:
    // the tool would wait with it. A state that cannot be read is left to
    // the steps that need the queue, which say so themselves.
    const QueueCondition queue = readQueueCondition(!upgradeState.selectedQueue.isShared);
    if (queue.attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE)
        return refuseNamingQueue(offlineEnd);
    if (queue.status & PRINTER_STATUS_PAUSED)
        return refuseNamingQueue(pausedEnd);
    if (queue.administrationDenied)
        return refuseNamingQueue(deniedEnd);
    if (queue.read && !queue.rawData)
        return refuseDatatype(queue.datatype);

    DWORD problemBits = 0;
    for (const PrinterProblem &problem : printerProblems)
        problemBits |= problem.bit;
    if ((queue.status & problemBits) && !askAboutProblems(dialog, queue.status))
        return false;
    if (queue.jobs != 0 && !askNamingQueue(dialog, jobsEnd))
        return false;
    return powerWillLast(dialog);
}

bool upgradeCanStart(const FilesCheck &files)
{
    if (refuseFiles(files) && shareNameUsable())
        return true;
    releaseFirmwareFiles();
    return false;
}

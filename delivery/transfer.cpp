#include "delivery/transfer.h"

#include "base/boxes.h"
#include "base/system_libraries.h"
#include "base/text.h"
#include "base/wait.h"
#include "delivery/sharing.h"

#include <shellapi.h>
#include <strsafe.h>

#include <cwchar>
#include <iterator>
#include <memory>
#include <vector>

const WCHAR copyingText[] = L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.";

namespace {

const WCHAR diskFileText[] =
    L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.\n"
    L"Please wait while printer is upgrading disk file.";
const WCHAR errorCaption[] = L"Firmware Upgrade Error";

const WCHAR baseFirmware[] = L"VX350_A.05.01.fmw";
const WCHAR plot355Firmware[] = L"VX355KPLOT_A.04.02.fmw";
const WCHAR plot350Firmware[] = L"VX350KPLOT_A.04.02.fmw";
const WCHAR diskFirmware[] = L"VX650DISK_A.04.02.fmw";
const WCHAR postScriptFirmware[] = L"VX650PS_A.04.02.fmw";

// A copy that takes longer than this has probably stopped: the printer is
// off, or no longer takes data.
const DWORD copyPatience = 60000;

// Sent after the printer's reboot, for the disk-staged models only.
const WCHAR *const afterRebootFiles[] = {postScriptFirmware, baseFirmware};

// Every file that an upgrade of this kind sends, in both stages.
std::vector<const WCHAR *> allFiles(FirmwareKind kind)
{
    std::vector<const WCHAR *> files = firstStageFiles(kind);
    std::vector<const WCHAR *> later = secondStageFiles(kind);
    files.insert(files.end(), later.begin(), later.end());
    return files;
}

// A queue shared before the run keeps its own share; otherwise the tool
// shares it and the copies go to the name the user confirmed.
const WCHAR *copyShareName()
{
    const PrintQueueRecord &queue = upgradeState.selectedQueue;
    return queue.isShared ? queue.shareName : upgradeState.targetShareName;
}

void tellError(const WCHAR *text)
{
    tellUser(text, errorCaption, MB_ICONERROR);
}

// "<start><name><end>"; room for a whole path or 255-character name next to
// the fixed text.
void tellErrorNaming(const WCHAR *start, const WCHAR *name, const WCHAR *end)
{
    WCHAR text[2 * nameCapacity];
    if (copyText(text, start) && appendText(text, name) && appendText(text, end))
        tellError(text);
    else
        tellError(L"Firmware upgrade cancelled.");
}

bool buildMustBeSharedText(WCHAR (&text)[nameCapacity])
{
    return copyText(text, L"In order to continue with upgrade, the printer <") &&
           appendText(text, upgradeState.targetShareName) && appendText(text, L"> must be shared");
}

// Opened for reading with reads alone shared, and held so until its copy
// has ended: the file the user confirmed is the file the printer gets, as no
// other program (a download finishing, a sync client) can write, rename or
// delete it meanwhile, while the interpreter's COPY, which only reads, still
// can. A file that another program holds open for writing, or that the user
// may not read, would otherwise pass the checks and fail its copy only once
// the queue is shared. False after the box that names the file and why.
bool firmwareFileHeld(const WCHAR *file)
{
    // Noted before the open, so that a list that cannot grow leaves no
    // handle without an owner.
    upgradeState.heldFirmware.push_back({file, INVALID_HANDLE_VALUE});
    HANDLE opened = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (opened != INVALID_HANDLE_VALUE) {
        upgradeState.heldFirmware.back().handle = opened;
        return true;
    }
    const DWORD error = GetLastError();
    upgradeState.heldFirmware.pop_back();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        tellErrorNaming(L"Firmware file ", file,
                        L" is open in another program, so it cannot be sent.\nClose that program, or wait until "
                        L"the download of the file has finished, then start the upgrade again.\nFirmware upgrade "
                        L"cancelled.");
    } else if (error == ERROR_ACCESS_DENIED) {
        tellErrorNaming(L"Firmware file ", file,
                        L" cannot be read: access is denied.\nCheck the file's permissions (or copy the file to "
                        L"this folder again), then start the upgrade again.\nFirmware upgrade cancelled.");
    } else {
        WCHAR end[nameCapacity];
        if (FAILED(StringCchPrintfW(end, ARRAYSIZE(end), L" cannot be read (error %lu).\nFirmware upgrade cancelled.",
                                    static_cast<unsigned long>(error))))
            copyText(end, L" cannot be read.\nFirmware upgrade cancelled.");
        tellErrorNaming(L"Firmware file ", file, end);
    }
    return false;
}

// The COPY reads the files by relative name, so they must be in the current
// directory. Checking them all up front keeps a missing second-stage file
// from leaving the printer half upgraded. An empty file would go out as an
// empty job and the upgrade would be reported as done.
bool firmwareFilesPresent(FirmwareKind kind)
{
    releaseFirmwareFiles();
    for (const WCHAR *file : allFiles(kind)) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(file, GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            tellErrorNaming(L"Firmware file ", file,
                            L" was not found in the tool's folder.\nFirmware upgrade cancelled.");
            return false;
        }
        if (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0) {
            tellErrorNaming(L"Firmware file ", file, L" is empty.\nFirmware upgrade cancelled.");
            return false;
        }
        if (!firmwareFileHeld(file)) {
            releaseFirmwareFiles();
            return false;
        }
    }
    return true;
}

// cmd.exe cannot use a network path as its current directory: it starts in
// the Windows folder instead, where the relative names of the copies find
// nothing, and the queue would already be shared by then. Refusing keeps the
// command lines as they are; full paths would have to carry the folder's own
// % and ! characters past the interpreter.
bool currentFolderUsable()
{
    WCHAR folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(ARRAYSIZE(folder), folder);
    if (length != 0 && length < ARRAYSIZE(folder) && !(folder[0] == L'\\' && folder[1] == L'\\'))
        return true;
    if (length == 0 || length >= ARRAYSIZE(folder))
        folder[0] = L'\0';
    tellErrorNaming(L"The firmware files cannot be sent from this folder:\n", folder,
                    L"\nCopy the tool and the firmware files to a folder on this computer's own disk and start "
                    L"the tool from there.\nFirmware upgrade cancelled.");
    return false;
}

// A queue that was never shared often has no share name at all (Windows adds
// one only when the user shares it), and the tool does not invent one.
bool shareNamePresent(const WCHAR *shareName)
{
    if (shareName[0] != L'\0')
        return true;
    tellErrorNaming(L"The printer ", upgradeState.selectedQueue.printerName,
                    L" has no share name.\nGive it a share name in the printer's properties (Sharing), then start "
                    L"the upgrade again.\nFirmware upgrade cancelled.");
    return false;
}

void refuseShareName(const WCHAR *shareName)
{
    tellErrorNaming(L"The share name ", shareName,
                    L" of the printer cannot be used to copy firmware.\nFirmware upgrade cancelled.");
}

// Every command line of both stages, and the must-be-shared text that may
// be shown before them, must be buildable before anything is shared or sent.
bool shareNameUsable(FirmwareKind kind, const WCHAR *shareName)
{
    bool usable = true;
    for (const WCHAR *file : allFiles(kind)) {
        WCHAR commandLine[nameCapacity];
        usable = usable && buildCopyCommandLine(commandLine, file, shareName);
    }
    if (!upgradeState.selectedQueue.isShared) {
        WCHAR text[nameCapacity];
        usable = usable && buildMustBeSharedText(text);
    }
    if (!usable)
        refuseShareName(shareName);
    return usable;
}

// Lets go of one held firmware file, once its copy has ended.
void releaseFirmwareFile(const WCHAR *file)
{
    auto &held = upgradeState.heldFirmware;
    for (auto entry = held.begin(); entry != held.end(); ++entry) {
        if (entry->name == file) {
            CloseHandle(entry->handle);
            held.erase(entry);
            return;
        }
    }
}

StageOutcome sendFile(const WCHAR *file, const WCHAR *shareName)
{
    WCHAR commandLine[nameCapacity];
    if (!buildCopyCommandLine(commandLine, file, shareName)) {
        refuseShareName(shareName);
        return StageFailed;
    }
    StageOutcome sent = runCopyCommand(commandLine);
    releaseFirmwareFile(file);
    return sent;
}

StageOutcome sendFiles(const WCHAR *const *files, size_t count)
{
    const WCHAR *shareName = copyShareName();
    for (size_t i = 0; i < count; ++i) {
        StageOutcome sent = sendFile(files[i], shareName);
        if (sent != StageSent)
            return sent;
    }
    return StageSent;
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// How long an ended interpreter may take to go.
const DWORD endingPatience = 5000;

// True, with its exit code, once the interpreter has ended. One whose end
// cannot be read counts as running: ending it again does no harm.
bool interpreterEnded(HANDLE process, DWORD &exitCode)
{
    return GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE;
}

// The interpreter in flight, known to the run while its wait lasts.
class CopyInFlight {
public:
    explicit CopyInFlight(HANDLE process) { upgradeState.copyProcess = process; }
    ~CopyInFlight() { stopCopyInFlight(); }
    CopyInFlight(const CopyInFlight &) = delete;
    CopyInFlight &operator=(const CopyInFlight &) = delete;
};

}  // namespace

// In sending order; every upgrade ends with the base firmware.
std::vector<const WCHAR *> firstStageFiles(FirmwareKind kind)
{
    switch (kind) {
    case FirmwarePlotLanguage:
        return {plot355Firmware, plot350Firmware, baseFirmware};
    case FirmwareDiskStaged:
        return {diskFirmware};
    default:
        return {baseFirmware};
    }
}

std::vector<const WCHAR *> secondStageFiles(FirmwareKind kind)
{
    if (kind != FirmwareDiskStaged)
        return {};
    return {std::begin(afterRebootFiles), std::end(afterRebootFiles)};
}

bool buildCopyCommandLine(WCHAR (&commandLine)[nameCapacity], const WCHAR *fileName, const WCHAR *shareName)
{
    // The interpreter expands %...% (and !...! under delayed expansion) even
    // inside double quotes. & | < > ^ and blanks are harmless only because
    // the destination is quoted, so a quote of its own is refused too.
    if (shareName[0] == L'\0' || std::wcspbrk(shareName, L"%!\"") != nullptr)
        return false;
    WCHAR destination[nameCapacity];
    return copyText(destination, L"\"\\\\") && appendText(destination, upgradeState.computerName) &&
           appendText(destination, L"\\") && appendText(destination, shareName) && appendText(destination, L"\"") &&
           copyText(commandLine, L"/C COPY /B ") && appendText(commandLine, fileName) &&
           appendText(commandLine, L" ") && appendText(commandLine, destination);
}

CommandOutcome runHiddenCommand(const WCHAR *commandLine)
{
    // No verb, owner or directory: the interpreter inherits the tool's
    // current directory, where the firmware files are read from.
    WCHAR interpreter[MAX_PATH];
    // By its full path in the system folder: Windows looks for a bare program
    // name in the current directory too, and that is the firmware folder, often
    // Downloads, where anyone could have left a cmd.exe to run with the tool's
    // rights.
    SetLastError(ERROR_SUCCESS);
    if (!systemFolderPath(interpreter, L"cmd.exe")) {
        DWORD error = GetLastError();
        return {CommandOutcome::Failed, error != ERROR_SUCCESS ? error : ERROR_FILENAME_EXCED_RANGE, 0};
    }
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = interpreter;
    info.lpParameters = commandLine;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        DWORD error = GetLastError();
        return {CommandOutcome::Failed, error, 0};
    }
    // Without a process to wait for, the copy cannot be confirmed.
    if (!info.hProcess)
        return {CommandOutcome::Failed, ERROR_INVALID_HANDLE, 0};
    std::unique_ptr<void, HandleCloser> process(info.hProcess);
    // Declared after the handle, so it goes first: a wait left by an
    // exception leaves no interpreter running on.
    CopyInFlight inFlight(process.get());

    // A copy can take minutes; the window keeps answering meanwhile.
    WaitOutcome waited = waitResponsive(process.get(), copyPatience);
    if (waited == WaitTimedOut) {
        reportStall();
        waited = waitResponsive(process.get(), INFINITE);
        if (waited != WaitStopped)
            reportStallOver();
    }
    // A stop that comes once the interpreter has ended by itself (the copy
    // went through while the question was open) is too late to cut
    // anything short: the copy is judged by its exit code as if no stop had
    // come. Unless the end of the run beneath has acted on the copy already.
    DWORD exitCode = 0;
    if (waited == WaitStopped && upgradeState.copyProcess == process.get() &&
        interpreterEnded(process.get(), exitCode)) {
        upgradeState.copyProcess = nullptr;
        // The stalled copy has ended after all; whether the run goes on is
        // the dialog's to say (a user's stop goes back, an end of the run
        // does not).
        reportStallOver();
        return {CommandOutcome::Finished, 0, exitCode, true};
    }
    if (waited == WaitStopped) {
        // COPY runs inside the interpreter: ending it ends the copy, and
        // nothing of the tool's is left running.
        stopCopyInFlight();
        return {CommandOutcome::Stopped, ERROR_CANCELLED, 0, true};
    }
    if (waited != WaitSignalled) {
        // The wait failed, not the copy: the interpreter may still be
        // copying, and is not left to go on once its handle is closed.
        DWORD error = GetLastError();
        stopCopyInFlight();
        return {CommandOutcome::Failed, error, 0, true};
    }
    upgradeState.copyProcess = nullptr;
    // COPY reports a missing file or an unreachable share only through the
    // exit code; the hidden window shows nothing.
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        DWORD error = GetLastError();
        return {CommandOutcome::Failed, error, 0, true};
    }
    return {CommandOutcome::Finished, 0, exitCode, true};
}

void stopCopyInFlight()
{
    HANDLE process = upgradeState.copyProcess;
    if (!process)
        return;
    upgradeState.copyProcess = nullptr;
    // A copy that has ended by itself is complete or failed on its own;
    // nothing of it is cut short, and its job is left alone.
    DWORD exitCode = 0;
    if (interpreterEnded(process, exitCode))
        return;
    TerminateProcess(process, ERROR_CANCELLED);
    WaitForSingleObject(process, endingPatience);
    upgradeState.copyCutShort = 1;
}

PartialJobReport removeCutShortJob()
{
    PartialJobReport report = {NoPartialJob, 0, 0};
    if (!upgradeState.copyCutShort)
        return report;
    upgradeState.copyCutShort = 0;
    // Without the jobs from before the copy, the copy's own cannot be told
    // from the documents that were there, which are not the tool's to delete.
    report.what = PartialJobLeft;
    if (!upgradeState.jobsNoted)
        return report;
    const JobRemoval removal = removeOwnJobAddedSince(upgradeState.jobsBeforeCopy, upgradeState.copyStart);
    report.job = removal.job;
    report.added = removal.added;
    switch (removal.result) {
    case JobRemoval::NoneAdded:
        report.what = PartialJobGone;
        break;
    case JobRemoval::Removed:
        report.what = PartialJobRemoved;
        break;
    case JobRemoval::NoneOwn:
    case JobRemoval::Several:
        report.what = PartialJobUnclear;
        break;
    case JobRemoval::Failed:
        break;
    }
    return report;
}

bool appendPartialJob(WCHAR (&text)[confirmationCapacity], const PartialJobReport &report)
{
    const WCHAR *queue = upgradeState.selectedQueue.printerName;
    WCHAR number[64];
    switch (report.what) {
    case NoPartialJob:
        return true;
    case PartialJobGone:
        return appendText(text, L" No part of the file is left in the print queue.");
    case PartialJobRemoved:
        return SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number), L" Its unfinished document (job %lu) was deleted",
                                          static_cast<unsigned long>(report.job))) &&
               appendText(text, number) && appendText(text, L" from the print queue ") && appendText(text, queue) &&
               appendText(text, L"; no other document was touched.");
    case PartialJobUnclear:
        return SUCCEEDED(StringCchPrintfW(number, ARRAYSIZE(number), L" holds %lu document(s) that arrived",
                                          static_cast<unsigned long>(report.added))) &&
               appendText(text, L"\nThe print queue ") && appendText(text, queue) && appendText(text, number) &&
               appendText(text, L" during the copy, and the tool cannot tell which one is its own, so it deleted "
                                L"none: delete the firmware document in the queue's window before you switch the "
                                L"printer off and on.");
    case PartialJobLeft:
        break;
    }
    return appendText(text, L"\nThe print queue ") && appendText(text, queue) &&
           appendText(text, L" may still hold the rest of it: delete that document in the queue's window before you "
                            L"switch the printer off and on.");
}

void releaseFirmwareFiles()
{
    for (const HeldFile &file : upgradeState.heldFirmware) {
        if (file.handle != INVALID_HANDLE_VALUE)
            CloseHandle(file.handle);
    }
    upgradeState.heldFirmware.clear();
}

StageOutcome runCopyCommand(const WCHAR *commandLine)
{
    // When the copy began and what the queue held before it, so that a copy
    // cut short can take back its own job and nothing else.
    GetSystemTimeAsFileTime(&upgradeState.copyStart);
    upgradeState.jobsNoted = listQueueJobs(upgradeState.jobsBeforeCopy);
    CommandOutcome outcome = runHiddenCommand(commandLine);
    // Once the run is ending the user has been, or will be, told why; an
    // interpreter that was ended is no copy error.
    if (outcome.end == CommandOutcome::Stopped || runEnding())
        return StageStopped;
    if (outcome.end == CommandOutcome::Finished && outcome.exitCode == 0)
        return StageSent;
    // A copy that failed after it started may have left part of the file in
    // the queue: it goes before anything waits for the queue to empty, so
    // that the printer never gets it.
    upgradeState.copyCutShort = outcome.started ? 1 : 0;
    const PartialJobReport partial = removeCutShortJob();
    DWORD number = outcome.end == CommandOutcome::Finished ? outcome.exitCode : outcome.error;
    WCHAR text[confirmationCapacity];
    if (SUCCEEDED(StringCchPrintfW(text, ARRAYSIZE(text), L"Error %d copying Firmware files to printer!",
                                   static_cast<int>(number))) &&
        appendPartialJob(text, partial) && appendText(text, L"\nFirmware upgrade cancelled."))
        tellError(text);
    else
        tellError(L"Firmware upgrade cancelled.");
    return StageFailed;
}

bool upgradeCanStart()
{
    const FirmwareKind kind = upgradeState.firmwareKind;
    const WCHAR *shareName = copyShareName();
    return currentFolderUsable() && firmwareFilesPresent(kind) && shareNamePresent(shareName) &&
           shareNameUsable(kind, shareName);
}

StageOutcome runFirstStage()
{
    const FirmwareKind kind = upgradeState.firmwareKind;
    if (!upgradeState.selectedQueue.isShared && !shareQueue()) {
        WCHAR text[nameCapacity];
        if (buildMustBeSharedText(text))
            tellUser(text, L"Information", MB_ICONWARNING);
        return StageRefused;
    }

    SetWindowTextW(upgradeState.statusText, kind == FirmwareDiskStaged ? diskFileText : copyingText);
    std::vector<const WCHAR *> files = firstStageFiles(kind);
    StageOutcome sent = sendFiles(files.data(), files.size());
    // A disk-staged upgrade is not finished until the files that follow the
    // printer's reboot have gone out too.
    if (sent == StageSent && kind == FirmwareDiskStaged)
        upgradeState.upgradeFinished = 0;
    return sent;
}

StageOutcome runSecondStage()
{
    StageOutcome sent = sendFiles(afterRebootFiles, ARRAYSIZE(afterRebootFiles));
    if (sent == StageSent)
        upgradeState.upgradeFinished = 1;
    return sent;
}

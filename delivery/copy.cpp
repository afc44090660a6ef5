#include "delivery/copy.h"

#include "base/system_libraries.h"
#include "base/text.h"
#include "base/wait.h"

#include <shellapi.h>

#include <cwchar>
#include <memory>

namespace {

// A copy that takes longer than this has probably stopped: the printer is
// off, or no longer takes data.
const DWORD copyPatience = 60000;

// How long an ended interpreter may take to go.
const DWORD endingPatience = 5000;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// The interpreter in flight, known to the run while its wait lasts. Ending
// it on the way out covers an exception that leaves the wait: no
// interpreter runs on once its handle is closed.
class CopyInFlight {
public:
    explicit CopyInFlight(HANDLE process)
    {
        upgradeState.copyProcess = process;
        upgradeState.copyTerminated = 0;
    }
    ~CopyInFlight() { stopCopyInFlight(); }
    CopyInFlight(const CopyInFlight &) = delete;
    CopyInFlight &operator=(const CopyInFlight &) = delete;
};

// By its full path in the system folder: Windows looks for a bare program
// name in the current directory too, and that is the firmware folder, often
// Downloads, where anyone could have left a cmd.exe to run with the tool's
// rights. No verb, owner or directory: the interpreter inherits the tool's
// current directory, where the firmware files are read from.
bool startInterpreter(const WCHAR *commandLine, HANDLE &process, DWORD &error)
{
    WCHAR interpreter[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    if (!systemFolderPath(interpreter, L"cmd.exe")) {
        error = GetLastError();
        if (error == ERROR_SUCCESS)
            error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = interpreter;
    info.lpParameters = commandLine;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        error = GetLastError();
        return false;
    }
    // Without a process to wait for, the copy cannot be confirmed.
    process = info.hProcess;
    error = ERROR_INVALID_HANDLE;
    return process != nullptr;
}

// A copy can take minutes; the window keeps answering meanwhile. After a
// minute the dialog hears of the stall, and of its end once the wait is
// over, whichever way: the offer belongs to this copy alone.
WaitOutcome waitForInterpreter(HANDLE process)
{
    WaitOutcome waited = waitResponsive(process, copyPatience);
    if (waited != WaitTimedOut)
        return waited;
    reportStall();
    waited = waitResponsive(process, INFINITE);
    const DWORD error = GetLastError();
    reportStallOver();
    SetLastError(error);
    return waited;
}

// COPY runs inside the interpreter: ending it ends the copy, and nothing of
// the tool's is left running. One that has ended by itself is left as it
// ended; one that ends between the look and the termination keeps the exit
// code it ended with, which the judgement reads afterwards.
void endInterpreter(HANDLE process)
{
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE)
        return;
    if (TerminateProcess(process, ERROR_CANCELLED))
        upgradeState.copyTerminated = 1;
    waitResponsive(process, endingPatience);
}

// What really happened, read once the interpreter has ended (or been
// ended). COPY reports a missing file or an unreachable share only through
// the exit code; the hidden window shows nothing.
CopyResult judgeEnd(HANDLE process)
{
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode)) {
        const DWORD error = GetLastError();
        return {CopyResult::Failed, error, 0, true};
    }
    // One that would not end after the termination may still be copying:
    // its job is no more whole than one that was ended.
    if (exitCode == STILL_ACTIVE || (exitCode == ERROR_CANCELLED && upgradeState.copyTerminated))
        return {CopyResult::CutShort, 0, 0, true};
    if (exitCode == 0)
        return {CopyResult::Sent, 0, 0, true};
    return {CopyResult::Failed, 0, exitCode, true};
}

}  // namespace

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

CopyResult runCopy(const WCHAR *commandLine)
{
    // What the queue holds before the interpreter starts, and when it
    // started, so that a copy cut short can take back its own job and
    // nothing else.
    noteJobsBeforeCopy();
    HANDLE started = nullptr;
    DWORD error = 0;
    if (!startInterpreter(commandLine, started, error))
        return {CopyResult::Failed, error, 0, false};
    std::unique_ptr<void, HandleCloser> process(started);
    // Declared after the handle, so it goes first.
    CopyInFlight inFlight(process.get());

    const WaitOutcome waited = waitForInterpreter(process.get());
    error = GetLastError();
    // The run began to end (the user's stop, the session's end, which may
    // have ended the interpreter already), or the wait itself failed: the
    // interpreter may still be copying, and is not left to go on. While it
    // goes, the copy stays known to the run: an end of the run beneath this
    // ends and judges it too.
    if (waited != WaitSignalled)
        endInterpreter(process.get());
    upgradeState.copyProcess = nullptr;
    CopyResult result = judgeEnd(process.get());
    if (waited == WaitFailed && result.end != CopyResult::Sent)
        result = {CopyResult::Failed, error, 0, true};
    // It may have left part of its file in the queue.
    if (result.end != CopyResult::Sent)
        upgradeState.copyUnfinished = 1;
    return result;
}

void stopCopyInFlight()
{
    HANDLE process = upgradeState.copyProcess;
    if (!process)
        return;
    upgradeState.copyProcess = nullptr;
    endInterpreter(process);
    // A copy that went through is whole, and its job is left alone; one
    // that failed by itself may have left part of the file like one that
    // was cut short.
    if (judgeEnd(process).end != CopyResult::Sent)
        upgradeState.copyUnfinished = 1;
}

JobRemoval removeUnfinishedCopysJob()
{
    if (!upgradeState.copyUnfinished)
        return {JobRemoval::NotNeeded, 0, 0};
    // Without the jobs from before the copy, the copy's own cannot be told
    // from the documents that were there, which are not the tool's to delete.
    JobRemoval removal = {JobRemoval::Unlisted, 0, 0};
    if (upgradeState.jobsNoted)
        removal = removeOwnJobAddedSince(upgradeState.jobsBeforeCopy, upgradeState.copyStart);
    // Only once the removal is over: a failure inside it leaves the mark for
    // the last way out to report.
    upgradeState.copyUnfinished = 0;
    return removal;
}

// Sending the firmware files to the printer's share.
#pragma once

#include "base/state.h"

#include <windows.h>

#include <vector>

// The status text while the firmware is being sent.
extern const WCHAR copyingText[];

enum StageOutcome {
    StageSent,     // every file of the stage went out
    StageRefused,  // the queue could not be shared (after the must-be-shared box); nothing was sent
    StageFailed,   // a copy failed (after the error box); later files were not sent
    StageStopped,  // the run began to end during a copy, which was ended; nothing was shown
};

// Runs one hidden command interpreter with the given parameters and waits for
// it: StageSent when the copy succeeded, StageFailed after the error box,
// StageStopped (nothing shown) when the run began to end meanwhile.
StageOutcome runCopyCommand(const WCHAR *commandLine);

// Checks, without changing anything, what the upgrade of the selected queue
// needs: a current directory the interpreter can use, every firmware file of
// both stages there, not empty and readable, a share name that can be copied
// to. The firmware files stay open, with others allowed to read them only,
// each until its copy has ended, or releaseFirmwareFiles().
// False after the error box that says what is wrong; nothing is held then.
bool upgradeCanStart();

// Shares the queue when it is not shared yet, then sends the first (for most
// printers the only) stage; upgradeCanStart() has passed before. The
// sharing is not put back here: that, the reboot wait and what the user is
// told next are the caller's.
StageOutcome runFirstStage();

// The files an upgrade of this kind sends, in order: in the first stage, and
// after the printer's reboot (none but for the disk-staged models).
std::vector<const WCHAR *> firstStageFiles(FirmwareKind kind);
std::vector<const WCHAR *> secondStageFiles(FirmwareKind kind);

// Sends the files that follow the printer's reboot.
StageOutcome runSecondStage();

// What became of one hidden command interpreter.
struct CommandOutcome {
    enum { Finished, Failed, Stopped } end;
    DWORD error;     // when Failed: the error of the step that failed
    DWORD exitCode;  // when Finished
    bool started = false;       // the interpreter was started: its copy may have left a job
};

// Starts the system folder's cmd.exe hidden with the given parameters, waits
// for it to end and reads its exit code. Shows nothing. A copy that has not
// ended after a minute is reported as a stall (base/wait.h), and its end, if
// it comes, as the stall's end; when the run begins to end meanwhile, the
// interpreter is ended (stopCopyInFlight).
CommandOutcome runHiddenCommand(const WCHAR *commandLine);

// Ends the copy whose interpreter is running, if any, and marks it cut
// short; one whose interpreter has ended by itself is left as it ended.
// Shows nothing.
void stopCopyInFlight();

enum PartialJob {
    NoPartialJob,       // no copy was cut short or failed
    PartialJobGone,     // it was, and nothing of it is in the queue
    PartialJobRemoved,  // its own job was deleted (and nothing else)
    PartialJobUnclear,  // jobs arrived meanwhile and none, or more than one, can be its own: none deleted
    PartialJobLeft,     // it may still be there: the queue could not be listed, or the job not deleted
};

struct PartialJobReport {
    PartialJob what;
    DWORD job;    // PartialJobRemoved: the job deleted
    DWORD added;  // PartialJobUnclear: how many jobs arrived during the copy
};

// After a copy was cut short or failed: deletes its own job from the queue
// (sharing.h), so that the printer never gets a partial file once it is
// back. Shows nothing.
PartialJobReport removeCutShortJob();

// Appends what became of the partial job, for the stopped and the error
// boxes; nothing for NoPartialJob. False when it does not fit.
bool appendPartialJob(WCHAR (&text)[confirmationCapacity], const PartialJobReport &report);

// Lets go of every firmware file that upgradeCanStart() holds open.
void releaseFirmwareFiles();

// "/C COPY /B <fileName> "\\<computerName>\<shareName>"". False when the
// share name cannot be handed to the interpreter safely (empty, or holding
// one of % ! ") or the line would not fit.
bool buildCopyCommandLine(WCHAR (&commandLine)[nameCapacity], const WCHAR *fileName, const WCHAR *shareName);

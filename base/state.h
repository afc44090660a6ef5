// The process-wide record of one upgrade run. Every step leaves its result
// here for the later steps; there is no other channel between them.
#pragma once

#include <windows.h>

#include <vector>

// The firmware set a printer needs; set by the model matching rule.
typedef int FirmwareKind;
enum : FirmwareKind {
    FirmwareNone = 0,
    FirmwareStandard = 1,
    FirmwarePlotLanguage = 2,
    FirmwareDiskStaged = 3,
};

// Capacities in characters, terminator included.
constexpr size_t nameCapacity = 256;          // names, paths, command lines, messages
constexpr size_t computerNameCapacity = 16;   // MAX_COMPUTERNAME_LENGTH + 1
constexpr size_t confirmationCapacity = 1000;

// A snapshot of one spooler queue, taken when the queues were enumerated.
// Sharing or unsharing the queue later does not update it, so isShared keeps
// telling whether the queue was shared before the run.
struct PrintQueueRecord {
    WCHAR driverName[nameCapacity];
    WCHAR printerName[nameCapacity];
    WCHAR portName[nameCapacity];
    WCHAR shareName[nameCapacity];
    int isShared;  // nonzero when the queue carried PRINTER_ATTRIBUTE_SHARED
};

// One supported printer that a search found: the model as the device library
// reported it (its first characters, with modelCut, when it does not fit),
// the firmware set its model needs and the port it is on.
struct FoundPrinter {
    WCHAR model[nameCapacity];
    bool modelCut;
    FirmwareKind firmwareKind;
    WCHAR portName[nameCapacity];
};

// A firmware file the run holds open: others may read it, but not write,
// rename or delete it. Once its copy has ended it is let go, and the record
// stays for its size.
struct HeldFile {
    const WCHAR *name;  // one of the tool's constant file names
    HANDLE handle;      // INVALID_HANDLE_VALUE once let go
    ULONGLONG size;     // read from the handle, so it is the size of what is sent
};

// One firmware file's job in a stage the queue holds: the spooler's id and
// the size the job must have to be whole.
struct HeldJob {
    const WCHAR *file;
    DWORD id;
    ULONGLONG size;
};

// Whether the stages go through a held queue, decided before the user is
// asked and shown in the details: held, each stage waits in the paused queue
// until all of its files are in it whole, and is then released as one;
// otherwise each file goes to the printer as it arrives.
enum StageHold {
    HoldPlanned,         // the queue will be paused for each stage
    HoldNotAllowed,      // the user may print to the queue but not manage it
    HoldJobsUnlisted,    // the queue's jobs cannot be listed, so its own could not be told
    HoldRefused,         // the spooler refused to pause the queue
};

// Where the run is: the one answer to "what does this message mean now?"
// (the table beside the dialog's code says what each message means in each
// phase). Changed by the dialog's enterPhase() only.
enum RunPhase {
    PhaseCreated,       // the window exists but has not been shown
    PhaseStarting,      // shown; the start message is on its way
    PhaseSearching,     // searching, looking up the queue, checking the files
    PhaseAsking,        // one of the run's own boxes is open
    PhaseCopying,       // a transfer stage sends its files
    PhaseCopyStalled,   // a copy has not ended for a minute: Escape offers to stop
    PhaseRebootWait,    // the progress bar fills while the printer reboots
    PhaseRebootReady,   // the reboot instructions: Ok sends the second stage
    PhaseRestoring,     // waiting for the queue to print before it is unshared
    PhaseDrainStalled,  // the queue has not moved for a minute: Escape offers to stop
    PhaseAskingToStop,  // the question whether to stop is open
    PhaseStopping,      // the user chose to stop: waits end, the copy is ended
    PhaseFinished,      // the final or the cancelled text: Ok, Escape and close end the tool
    PhaseClosing,       // the tool is ending: nothing more is started
    phaseCount
};

struct UpgradeState {
    HINSTANCE appInstance = nullptr;
    HWND mainDialog = nullptr;
    HWND statusText = nullptr;
    HWND detailText = nullptr;
    WCHAR computerName[computerNameCapacity] = L"";
    WCHAR portName[nameCapacity] = L"USB001";
    FirmwareKind firmwareKind = FirmwareNone;
    // The printers of the last search, one per port, in the library's order.
    std::vector<FoundPrinter> foundPrinters;
    DWORD libraryError = 0;  // why the last search could not load the device library; 0 when it could
    std::vector<PrintQueueRecord> foundQueues;
    // The pools on the port found by the last lookup: queues that print to
    // the port and others too, which never take firmware.
    std::vector<PrintQueueRecord> pooledQueues;
    PrintQueueRecord selectedQueue = {};
    WCHAR targetShareName[nameCapacity] = L"";
    int sharedByTool = 0;
    // Nonzero once putting back the sharing that the tool added has failed
    // (the queue could not be opened or read, or the write was refused).
    int sharingNotPutBack = 0;
    int upgradeFinished = 0;
    // Where the run is; changed by the dialog's enterPhase() only.
    RunPhase phase = PhaseCreated;
    int refusedPhaseChanges = 0;
    // Held while firmware is in flight (the dialog's protection against sleep).
    HANDLE powerRequest = nullptr;
    // The copy's interpreter while it runs (owned by the copy's own wait),
    // so that an end of the run beneath that wait can end it.
    HANDLE copyProcess = nullptr;
    // Nonzero once the tool's TerminateProcess has succeeded on the copy in
    // flight: only then does its exit code ERROR_CANCELLED mean "cut short".
    int copyTerminated = 0;
    // The queue's jobs before the last copy's interpreter started; jobsNoted
    // is 0 when they could not be listed.
    std::vector<DWORD> jobsBeforeCopy;
    int jobsNoted = 0;
    // When the last copy began (UTC), just before its interpreter started:
    // its own job was submitted since.
    FILETIME copyStart = {};
    // Nonzero once a copy started and did not go through (the tool ended it,
    // or it failed): its job in the queue may hold part of a file and must
    // not reach the printer. Set and cleared by the copy (delivery/copy.h).
    int copyUnfinished = 0;
    // The run's firmware files, held open from the checks until each one's
    // copy has ended, and known by their size until the run ends
    // (delivery/firmware_files.h).
    std::vector<HeldFile> heldFirmware;
    // The files that reached the queue whole and were let go to the printer,
    // in sending order; a held stage's files only once it is released.
    std::vector<const WCHAR *> filesSent;
    StageHold stageHold = HoldJobsUnlisted;
    // Nonzero while the tool has the queue paused for the stage it sends;
    // heldJobs are that stage's jobs so far, one per file in sending order.
    int queueHeld = 0;
    std::vector<HeldJob> heldJobs;
    // Nonzero once a held stage was taken back before its release: the
    // printer has none of it, and nothing of it is left to wait for.
    int heldStageWithdrawn = 0;
};

extern UpgradeState upgradeState;

// True while the tool holds sharing that it added itself: the queue was not
// shared before the run and has not been unshared yet. Every path that ends
// the use of the queue tests this before it restores.
bool restoreDue();

// True once the run is ending (the user chose to stop, or the tool closes):
// a stage sends nothing more and shows nothing, and a wait that was under
// way returns.
bool runEnding();

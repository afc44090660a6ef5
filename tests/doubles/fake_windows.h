// A scripted outside world for the unit tests.
//
// The production code calls Windows by its own names. Test executables link
// fake_windows.cpp as an object file; it defines the spooler functions
// themselves (winspool.h declares them without dllimport, so calls bind to
// the plain symbol) and the import slots __imp_<Name> of the kernel32,
// user32 and shell32 functions it takes over (those headers declare
// dllimport, so calls go through that slot). Objects are linked before the
// import libraries are searched, so the linker binds the production code to
// these doubles and nothing else changes. Handles, memory and processes that
// the doubles did not hand out are passed on to the real Windows functions,
// so GoogleTest and the runtime keep working.
//
// Taken over: EnumPrintersW, OpenPrinterW, GetPrinterW, SetPrinterW (settings
// at level 2, pausing and resuming at level 0),
// ClosePrinter, EnumJobsW, SetJobW, GlobalAlloc, GlobalFree, ShellExecuteExW,
// MsgWaitForMultipleObjectsEx, GetTickCount64, GetExitCodeProcess,
// TerminateProcess, CloseHandle, MessageBoxW, Sleep, the power and
// shutdown-block calls, GetSystemPowerStatus, and GetCurrentDirectoryW when a
// test scripts it.
// The waits return at once: a timed wait advances the doubles' clock by its
// whole time, and a wait on a process ends it as scripted; past
// fakeWorld.clockLimit a wait fails the test. While the real
// thread queue holds messages the wait wakes for, the waits report them
// first, so the code under test dispatches them as it would on Windows.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct FakeQueue {
    std::optional<std::wstring> printerName;
    std::optional<std::wstring> driverName = std::wstring(L"Vellumax Driver");
    std::optional<std::wstring> portName;
    std::optional<std::wstring> shareName;
    std::optional<std::wstring> serverName;  // a printer connection's server
    std::optional<std::wstring> datatype;    // the default data type; none named when empty
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    DWORD status = 0;  // PRINTER_STATUS_* bits, as every read reports them
    // Job counts reported by successive reads of the settings; the last one
    // repeats. Empty means the queue is empty.
    std::vector<DWORD> jobCounts;
    size_t reads = 0;
    // The ids of the jobs EnumJobsW lists; a deletion takes its job out.
    std::vector<DWORD> jobIds;
    // Who sent a job and when (UTC), where a test says so; otherwise this
    // user (the real GetUserNameW), at the time it is listed.
    std::map<DWORD, std::wstring> jobUsers;
    std::map<DWORD, SYSTEMTIME> jobSubmitted;
    // A job's document name and data type where a test says so; otherwise
    // what a copy to the queue's share makes.
    std::map<DWORD, std::wstring> jobDocuments;
    std::map<DWORD, std::wstring> jobDatatypes;
    // A job's size in bytes, status bits and priority where a test says so;
    // otherwise 0 bytes, spooled, the lowest priority. SetJobW at level 1
    // sets the priority.
    std::map<DWORD, DWORD> jobSizes;
    std::map<DWORD, DWORD> jobStatus;
    std::map<DWORD, DWORD> jobPriorities;
    // Jobs that arrive just after the first size probe of EnumJobsW.
    std::vector<DWORD> jobsArrivingAfterProbe;
};

// One SetPrinterW call as the spooler received it.
struct PrinterWrite {
    std::wstring printerName;  // the queue the handle was opened on
    DWORD level;
    DWORD command;
    DWORD attributes;
    std::optional<std::wstring> shareName;
    std::optional<std::wstring> portName;
    std::optional<std::wstring> driverName;
    std::optional<std::wstring> writtenPrinterName;
};

struct EnumCall {
    DWORD flags;
    bool nullName;
    DWORD level;
    DWORD bufferSize;
};

struct ProcessScript {
    bool startFails = false;
    DWORD startError = ERROR_FILE_NOT_FOUND;
    DWORD waitResult = WAIT_OBJECT_0;
    DWORD waitError = ERROR_INVALID_HANDLE;  // last error when waitResult is WAIT_FAILED
    DWORD exitCode = 0;
    bool exitCodeFails = false;  // GetExitCodeProcess fails with exitCodeError
    DWORD exitCodeError = ERROR_ACCESS_DENIED;
    std::function<void()> onRun;  // runs while the process "runs" (inside the wait)
    // How long the process runs, on the doubles' clock: a shorter timed wait
    // times out (and counts as a sleep); a longer or unlimited one ends it.
    DWORD runsFor = 0;
    // It ends by itself, with its scripted exit code, just as the tool
    // terminates it: the termination finds it ended.
    bool endsBeforeTermination = false;
    bool ran = false;             // kept by the doubles
    // Kept by the doubles when fakeWorld.copiesMakeJobs: the job this copy
    // made, in queue jobQueue, and the size it has once the copy is whole.
    int jobQueue = -1;
    DWORD job = 0;
    DWORD wholeSize = 0;
    bool terminated = false;      // kept by the doubles
    // Kept by the doubles: a wait has seen it end, it was terminated, or
    // endRunningProcesses(). Until then GetExitCodeProcess says STILL_ACTIVE.
    bool ended = false;
};

struct StartedProcess {
    ULONG mask;
    HWND window;
    std::wstring verb;  // "(null)" when none was given
    std::wstring file;
    std::wstring parameters;
    std::wstring directory;  // "(null)" when none was given
    int show;
};

struct ShownBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
    bool inputPending;  // keyboard or mouse input was queued when it was shown
};

struct FakeWorld {
    // Spooler.
    std::vector<FakeQueue> queues;
    bool enumProbeReportsZero = false;
    bool enumFillFails = false;
    DWORD enumFillError = ERROR_INVALID_PARAMETER;
    size_t queuesAddedBetweenEnumCalls = 0;  // appended from extraQueues after the probe
    std::vector<FakeQueue> extraQueues;
    std::vector<EnumCall> enumCalls;
    bool openFails = false;
    DWORD openError = ERROR_ACCESS_DENIED;
    // Opens that ask for PRINTER_ACCESS_ADMINISTER (PRINTER_ALL_ACCESS
    // includes it) fail with ERROR_ACCESS_DENIED; others succeed.
    bool administrationDenied = false;
    std::vector<std::wstring> openedNames;
    std::vector<ACCESS_MASK> openedAccess;
    int openPrinterHandles = 0;  // opened and not yet closed
    bool probeFails = false;     // the size probe fails with probeError
    DWORD probeError = ERROR_INVALID_HANDLE;
    bool probeReportsZero = false;  // the size probe succeeds and reports 0 bytes
    int failingRead = 0;            // the n-th read into a buffer fails (1-based); 0: none
    int readsIntoBuffer = 0;
    bool setFails = false;
    // SetPrinterW(PRINTER_CONTROL_PAUSE or _RESUME) fails with ERROR_ACCESS_DENIED;
    // otherwise it sets or clears PRINTER_STATUS_PAUSED of the queue.
    bool pauseFails = false;
    bool resumeFails = false;
    std::vector<PrinterWrite> writes;
    bool enumJobsFails = false;  // EnumJobsW fails with ERROR_ACCESS_DENIED
    bool setJobFails = false;    // SetJobW fails with ERROR_ACCESS_DENIED
    std::function<void()> onEnumJobs;  // runs at each EnumJobsW call
    std::function<void()> onSetJob;    // runs at each SetJobW call, before it acts
    std::vector<DWORD> deletedJobs;
    // A copy to a queue's share makes a job there, as on Windows: once the
    // copy "runs", a job of this user named "Remote Downlevel Document",
    // spooling, with half the file; once it ends by itself with exit code 0
    // the whole file, spooled; ended otherwise, it keeps the half. Ids count
    // up from nextJobId.
    bool copiesMakeJobs = true;
    DWORD nextJobId = 100;

    // GlobalAlloc.
    bool globalAllocFails = false;
    std::vector<UINT> globalAllocFlags;
    int liveGlobalAllocs = 0;

    // Processes.
    std::deque<ProcessScript> processScripts;  // one per start; a success when empty
    std::vector<StartedProcess> started;
    int liveProcessHandles = 0;
    int terminatedProcesses = 0;

    // Message boxes.
    std::deque<int> boxAnswers;  // IDOK when empty
    std::function<int(const ShownBox &)> onBox;  // answers instead, when set
    std::vector<ShownBox> boxes;

    // Keeping the system awake.
    bool powerRequestFails = false;
    int livePowerRequests = 0;

    // What GetSystemPowerStatus reports: on mains power, without a battery.
    SYSTEM_POWER_STATUS powerStatus = {1, 128, 255, 0, 0xFFFFFFFF, 0xFFFFFFFF};
    bool powerStatusFails = false;

    // The current directory GetCurrentDirectoryW reports, when set.
    std::optional<std::wstring> currentDirectory;

    // Time: every timed wait, in milliseconds, and the clock it advances.
    std::vector<DWORD> sleeps;
    std::function<void(DWORD)> onSleep;
    ULONGLONG clock = 1000000;
    // A test whose waits add up to more than this has waited for something
    // that never came (a box, a stall, an empty queue): the wait that passes
    // it throws and sets endlessWait (the fixtures fail the test on it),
    // instead of waiting for ever.
    ULONGLONG clockLimit = 1000000 + 6 * 3600 * 1000ull;
    bool endlessWait = false;

    // Everything above in the order it happened, one line per call, e.g.
    // "Sleep 1000", "MessageBox Error|Printer not detected...",
    // "ShellExecuteEx cmd.exe|/C COPY /B ...", "SetPrinter 0x48",
    // "OpenPrinter Q", "ClosePrinter Q", "CloseHandle process".
    std::vector<std::wstring> events;
};

extern FakeWorld fakeWorld;

// Starts every test from an empty world.
void resetFakeWorld();

// Every process started and not yet ended ends now, with its scripted exit
// code, as a copy that goes through while something else happens.
void endRunningProcesses();

// The lines of fakeWorld.events that start with the given prefix.
std::vector<std::wstring> eventsStartingWith(const std::wstring &prefix);

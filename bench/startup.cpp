// Times the start of two dialog programs as a user meets it: from the moment
// the process is created until its dialog is visible on screen.
//
//   bench_startup <runs> <name> <program> <name> <program>
//
// One start of each first warms Wine's caches and is not counted. Then each
// run starts both programs, one after the other, and prints one line
// "<name> <seconds>" per start. Exit code 1 when a program cannot be started,
// ends early or shows no dialog within a minute.
#include "bench/timing.h"

#include <windows.h>
#include <strsafe.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

struct Search {
    DWORD processId;
    bool found;
};

BOOL CALLBACK findDialog(HWND window, LPARAM parameter)
{
    Search &search = *reinterpret_cast<Search *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    WCHAR className[16] = L"";
    if (owner == search.processId && IsWindowVisible(window) &&
        GetClassNameW(window, className, ARRAYSIZE(className)) && std::wcscmp(className, L"#32770") == 0) {
        search.found = true;
        return FALSE;
    }
    return TRUE;
}

// Seconds from the creation of the process to its visible dialog; negative
// when that never came.
double timeStart(const std::wstring &program)
{
    WCHAR commandLine[MAX_PATH + 2];
    if (FAILED(StringCchPrintfW(commandLine, ARRAYSIZE(commandLine), L"\"%ls\"", program.c_str())))
        return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};

    double started = secondsNow();
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "bench_startup: cannot start %ls: error %lu\n", program.c_str(), GetLastError());
        return -1;
    }
    // Polled every millisecond or so; the wait doubles as the check that the
    // program is still running.
    double shown = -1;
    Search search = {process.dwProcessId, false};
    const char *failure = "showed no dialog within a minute";
    while (secondsNow() - started < 60) {
        EnumWindows(findDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            shown = secondsNow();
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
            failure = "ended before it showed a dialog";
            break;
        }
    }
    if (shown < 0)
        std::fprintf(stderr, "bench_startup: %ls %s\n", program.c_str(), failure);
    // Stopped from outside: the tool is still in its pause before the first
    // search then, and has changed nothing.
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return shown < 0 ? -1 : shown - started;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: bench_startup <runs> <name> <program> <name> <program>\n");
        return 2;
    }
    int runs = std::wcstol(argv[1], nullptr, 10);
    std::string names[2];
    std::wstring programs[2] = {argv[3], argv[5]};
    for (int side = 0; side < 2; ++side)
        for (const wchar_t *c = argv[2 + 2 * side]; *c; ++c)
            names[side] += static_cast<char>(*c);

    for (const std::wstring &program : programs)
        if (timeStart(program) < 0)
            return 1;
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            int side = firstSideFirst(run) ? turn : 1 - turn;
            double seconds = timeStart(programs[side]);
            if (seconds < 0)
                return 1;
            printSample(names[side].c_str(), seconds);
        }
    }
    return 0;
}

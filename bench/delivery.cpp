// Times the delivery of one firmware file by the tool's own first stage
// against the same copy started directly, side by side.
//
//   bench_delivery <runs> <host> <share>
//
// Runs in the folder that holds VX350_A.05.01.fmw; \\<host>\<share> must be
// served (under Wine: $WINEPREFIX/dosdevices/unc/<host>/<share>). One copy of
// each first warms the caches and is not counted. Each run prints
// "tool <seconds>" and "direct <seconds>". Exit code 1 when a copy fails.
#include "bench/timing.h"

#include "base/state.h"
#include "base/text.h"
#include "app/stages.h"

#include <windows.h>
#include <strsafe.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

const WCHAR FirmwareFile[] = L"VX350_A.05.01.fmw";

// The tool's stage for a standard printer whose queue is shared already, so
// that only the copy is timed, not the spooler.
double timeFirstStage()
{
    double started = secondsNow();
    bool sent = runFirstStage() == StageSent;
    double seconds = secondsNow() - started;
    if (!sent)
        std::fprintf(stderr, "bench_delivery: the tool's first stage failed\n");
    return sent ? seconds : -1;
}

// The copy as a person would type it, through the same interpreter, started
// as a program without a console of its own must start it: this benchmark is
// a console program, and an interpreter that shared its console would skip
// the console that the tool's (a GUI program's) interpreter gets, which under
// Wine is one more process per copy. With a hidden console of its own the
// ratio measures what the tool adds.
double timeDirectCopy(const WCHAR *host, const WCHAR *share)
{
    WCHAR commandLine[2 * MAX_PATH];
    if (FAILED(StringCchPrintfW(commandLine, ARRAYSIZE(commandLine), L"cmd.exe /C COPY /B %ls \"\\\\%ls\\%ls\"",
                                FirmwareFile, host, share)))
        return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};

    double started = secondsNow();
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "bench_delivery: cannot start cmd.exe: error %lu\n", GetLastError());
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    double seconds = secondsNow() - started;
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (exitCode != 0)
        std::fprintf(stderr, "bench_delivery: the direct copy ended with exit code %lu\n", exitCode);
    return exitCode == 0 ? seconds : -1;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_delivery <runs> <host> <share>\n");
        return 2;
    }
    int runs = std::wcstol(argv[1], nullptr, 10);
    const WCHAR *host = argv[2];
    const WCHAR *share = argv[3];

    // The stage writes its texts into the dialog and repaints it; a hidden
    // window stands in for it.
    HWND dialog = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!dialog)
        return 1;
    upgradeState.mainDialog = upgradeState.statusText = dialog;
    upgradeState.firmwareKind = FirmwareStandard;
    upgradeState.selectedQueue.isShared = 1;
    if (!copyText(upgradeState.computerName, host) || !copyText(upgradeState.selectedQueue.shareName, share))
        return 1;

    if (timeFirstStage() < 0 || timeDirectCopy(host, share) < 0)
        return 1;
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            bool tool = firstSideFirst(run) == (turn == 0);
            double seconds = tool ? timeFirstStage() : timeDirectCopy(host, share);
            if (seconds < 0)
                return 1;
            printSample(tool ? "tool" : "direct", seconds);
        }
    }
    DestroyWindow(dialog);
    return 0;
}

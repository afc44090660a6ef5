// Times the tool's searches at two sizes of the world they search, side by
// side, to show how their cost grows.
//
//   bench_scale <runs> detect <records> <records>
//       detectPrinter over that many device records, through the stand-in
//       library beside this program (it writes the library's vxprobe.txt)
//   bench_scale <runs> queues <queues> <queues>
//       findPrintQueues over that many queues of the scripted spooler
//   bench_scale <runs> match <strings> <strings>
//       matchModelFamily over that many model strings
//
// Each run measures both sizes and prints "<what>.<size> <seconds>": the time
// of one call for detect and queues (averaged over as many calls as make the
// smaller size's work equal the larger's), and of the whole pass over the
// strings for match; the fastest of three such timings. Each timing checks
// the result, so that a search that stopped early cannot look fast. Exit
// code 1 when a result is wrong.
#include "bench/timing.h"
#include "tests/doubles/fake_windows.h"

#include "base/state.h"
#include "base/text.h"
#include "identify/catalogue.h"
#include "identify/discovery.h"
#include "identify/queues.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The printer every search must end on: the last matching record's port.
const char PrinterPort[] = "USB777";
const WCHAR PrinterPortW[] = L"USB777";

// Mostly other devices, and some of every kind of name the catalogue knows
// (names, product numbers, the plot-language option), so that each branch of
// the matching rule runs.
const char *const Models[] = {
    "Office Laser 4200 Series",
    "Photo Inkjet Pro 9",
    "Tarnell Vellumax 350 plus",
    "Label Printer LX-40",
    "Vellumax 650PS R2471C",
    "USB Mass Storage Device",
    "Tarnell Vellumax 355ps 42in Printer",
    "Large Format Plotter 36in",
    "R2461A KPLOT",
    "Receipt Printer TM-8",
};
const size_t ModelCount = ARRAYSIZE(Models);

std::wstring widen(const char *text)
{
    return std::wstring(text, text + std::strlen(text));
}

bool writeDevices(size_t records)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    std::wstring file(path, length);
    file.erase(file.find_last_of(L"\\/") + 1);
    file += L"vxprobe.txt";

    std::string text;
    for (size_t i = 0; i + 1 < records; ++i) {
        char port[16];
        std::snprintf(port, sizeof port, "USB%03u", static_cast<unsigned>(i % 100));
        text += std::string("device\nrecord ") + Models[i % ModelCount] + "\nport " + port + "\n";
    }
    text += std::string("device\nrecord Tarnell Vellumax 350\nport ") + PrinterPort + "\n";

    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(handle);
    return ok && written == text.size();
}

// Every hundredth queue drives the printer's port.
void scriptQueues(size_t count)
{
    resetFakeWorld();
    for (size_t i = 0; i < count; ++i) {
        FakeQueue queue;
        queue.printerName = L"Queue " + std::to_wstring(i);
        queue.portName = i % 100 == 99 ? std::wstring(PrinterPortW) : L"USB0" + std::to_wstring(i % 100);
        queue.shareName = L"SHARE" + std::to_wstring(i);
        fakeWorld.queues.push_back(queue);
    }
}

std::vector<std::wstring> modelStrings(size_t count)
{
    std::vector<std::wstring> strings;
    strings.reserve(count);
    for (size_t i = 0; i < count; ++i)
        strings.push_back(widen(Models[i % ModelCount]) + L" " + std::to_wstring(i));
    return strings;
}

double timeDetect(size_t records, int calls)
{
    if (!writeDevices(records)) {
        std::fprintf(stderr, "bench_scale: cannot write vxprobe.txt\n");
        return -1;
    }
    // One call first, untimed, as in the other series: the first call after
    // a change of size pays for memory the later ones reuse.
    int found = detectPrinter();
    double started = secondsNow();
    for (int call = 0; call < calls; ++call)
        found &= detectPrinter();
    double seconds = (secondsNow() - started) / calls;
    if (!found || std::wcscmp(upgradeState.portName, PrinterPortW) != 0) {
        std::fprintf(stderr, "bench_scale: detectPrinter over %zu records did not find the printer\n", records);
        return -1;
    }
    return seconds;
}

double timeQueues(size_t count, int calls)
{
    scriptQueues(count);
    copyText(upgradeState.portName, PrinterPortW);
    size_t expected = count / 100;
    bool right = findPrintQueues().size() == expected;
    double started = secondsNow();
    for (int call = 0; call < calls; ++call) {
        right = right && findPrintQueues().size() == expected;
        // The doubles log every call; that log must not grow with the runs.
        fakeWorld.events.clear();
        fakeWorld.enumCalls.clear();
    }
    double seconds = (secondsNow() - started) / calls;
    if (!right) {
        std::fprintf(stderr, "bench_scale: findPrintQueues over %zu queues missed queues of the port\n", count);
        return -1;
    }
    return seconds;
}

double timeMatch(size_t count)
{
    std::vector<std::wstring> strings = modelStrings(count);
    for (const std::wstring &model : strings)
        matchModelFamily(model.c_str());
    double started = secondsNow();
    size_t matched = 0;
    for (const std::wstring &model : strings)
        matched += matchModelFamily(model.c_str());
    double seconds = secondsNow() - started;
    // Four of the ten models are of the catalogue.
    if (matched != count / ModelCount * 4) {
        std::fprintf(stderr, "bench_scale: matchModelFamily matched %zu of %zu model strings\n", matched, count);
        return -1;
    }
    return seconds;
}

// One sample of either size; the smaller size repeats its call so that both
// samples cover the same amount of work. The work is short and takes the
// processor alone, so one preemption by another program on this shared
// machine would decide a single timing: a sample is the fastest of three.
double sample(const std::wstring &what, size_t size, size_t largest)
{
    int calls = static_cast<int>(largest / size);
    double fastest = -1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        upgradeState = UpgradeState{};
        double seconds = what == L"detect" ? timeDetect(size, calls)
                         : what == L"queues" ? timeQueues(size, calls)
                                             : timeMatch(size);
        if (seconds < 0)
            return -1;
        if (fastest < 0 || seconds < fastest)
            fastest = seconds;
    }
    return fastest;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    std::wstring what = argc == 5 ? argv[2] : L"";
    if (what != L"detect" && what != L"queues" && what != L"match") {
        std::fprintf(stderr, "usage: bench_scale <runs> detect|queues|match <size> <size>\n");
        return 2;
    }
    int runs = std::wcstol(argv[1], nullptr, 10);
    size_t sizes[2] = {std::wcstoul(argv[3], nullptr, 10), std::wcstoul(argv[4], nullptr, 10)};
    // The checks of the results count in hundreds of records or queues.
    if (sizes[0] == 0 || sizes[0] % 100 != 0 || sizes[1] % sizes[0] != 0) {
        std::fprintf(stderr, "bench_scale: the sizes must be multiples of 100, the second of the first\n");
        return 2;
    }
    buildModelCatalogue();

    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            size_t size = sizes[firstSideFirst(run) ? turn : 1 - turn];
            double seconds = sample(what, size, sizes[1]);
            if (seconds < 0)
                return 1;
            char series[64];
            std::snprintf(series, sizeof series, "%ls.%zu", what.c_str(), size);
            printSample(series, seconds);
        }
    }
    return 0;
}

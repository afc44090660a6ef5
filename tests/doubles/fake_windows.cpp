#include "tests/doubles/fake_windows.h"

#include <lmcons.h>

#include <winspool.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <set>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <stdexcept>

FakeWorld fakeWorld;

namespace {

template <typename F>
F realFunction(const wchar_t *module, const char *name)
{
    FARPROC proc = GetProcAddress(GetModuleHandleW(module), name);
    return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(proc));
}

void note(const std::wstring &line)
{
    fakeWorld.events.push_back(line);
}

std::wstring hex(DWORD value)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring orNull(const wchar_t *text)
{
    return text ? std::wstring(text) : std::wstring(L"(null)");
}

std::optional<std::wstring> optional(const wchar_t *text)
{
    return text ? std::optional<std::wstring>(text) : std::nullopt;
}

// Handle values that no real kernel object has (real ones are small
// multiples of four), so the doubles can tell theirs from the runtime's.
const UINT_PTR printerHandleBase = 0x51500000;
const UINT_PTR processHandleBase = 0x52500000;
const HANDLE powerRequestHandle = reinterpret_cast<HANDLE>(0x53500000);

// The doubles act only between resetFakeWorld() and the end of the process;
// before that (static initialisation) every call goes to Windows.
bool recording = false;

struct Internals {
    // Which queue each fake printer handle was opened on; closed handles are
    // erased.
    std::vector<std::pair<HANDLE, size_t>> openPrinters;
    UINT_PTR nextPrinterHandle = printerHandleBase;
    std::set<HANDLE> liveProcesses;
    UINT_PTR nextProcessHandle = processHandleBase;
    std::vector<ProcessScript> runningScripts;  // indexed by (handle - base) / 4
    std::set<HGLOBAL> allocations;
    int messageReports = 0;  // messages reported in a row by the waits
};

Internals &internals()
{
    static Internals state;
    return state;
}

bool isFakeProcess(HANDLE handle)
{
    UINT_PTR value = reinterpret_cast<UINT_PTR>(handle);
    return value >= processHandleBase && value < processHandleBase + 0x100000 && (value & 3) == 0;
}

FakeQueue *queueOf(HANDLE handle)
{
    for (auto &open : internals().openPrinters)
        if (open.first == handle)
            return &fakeWorld.queues[open.second];
    return nullptr;
}

// Packs one PRINTER_INFO_2W's strings at `strings`; returns the bytes they
// take. With a null destination only counts.
size_t packStrings(const FakeQueue &queue, PRINTER_INFO_2W *info, BYTE *strings)
{
    size_t used = 0;
    auto put = [&](const std::optional<std::wstring> &text, LPWSTR *field) {
        if (!text) {
            if (info)
                *field = nullptr;
            return;
        }
        size_t bytes = (text->size() + 1) * sizeof(WCHAR);
        if (info) {
            std::memcpy(strings + used, text->c_str(), bytes);
            *field = reinterpret_cast<LPWSTR>(strings + used);
        }
        used += bytes;
    };
    PRINTER_INFO_2W scratch;
    PRINTER_INFO_2W *target = info ? info : &scratch;
    put(queue.printerName, &target->pPrinterName);
    put(queue.shareName, &target->pShareName);
    put(queue.portName, &target->pPortName);
    put(queue.driverName, &target->pDriverName);
    put(queue.serverName, &target->pServerName);
    put(queue.datatype, &target->pDatatype);
    return used;
}

size_t settingsSize(const FakeQueue &queue)
{
    return sizeof(PRINTER_INFO_2W) + packStrings(queue, nullptr, nullptr);
}

// ---- kernel32, user32 and shell32 doubles --------------------------------

VOID WINAPI fakeSleep(DWORD milliseconds)
{
    if (!recording)
        return realFunction<decltype(&Sleep)>(L"kernel32.dll", "Sleep")(milliseconds);
    fakeWorld.sleeps.push_back(milliseconds);
    note(L"Sleep " + std::to_wstring(milliseconds));
    if (fakeWorld.onSleep)
        fakeWorld.onSleep(milliseconds);
}

HGLOBAL WINAPI fakeGlobalAlloc(UINT flags, SIZE_T bytes)
{
    if (!recording)
        return realFunction<decltype(&GlobalAlloc)>(L"kernel32.dll", "GlobalAlloc")(flags, bytes);
    fakeWorld.globalAllocFlags.push_back(flags);
    if (fakeWorld.globalAllocFails) {
        note(L"GlobalAlloc failed");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HGLOBAL memory = realFunction<decltype(&GlobalAlloc)>(L"kernel32.dll", "GlobalAlloc")(flags, bytes);
    if (memory) {
        internals().allocations.insert(memory);
        ++fakeWorld.liveGlobalAllocs;
        note(L"GlobalAlloc " + std::to_wstring(bytes));
    }
    return memory;
}

HGLOBAL WINAPI fakeGlobalFree(HGLOBAL memory)
{
    if (recording && internals().allocations.erase(memory)) {
        --fakeWorld.liveGlobalAllocs;
        note(L"GlobalFree");
    }
    return realFunction<decltype(&GlobalFree)>(L"kernel32.dll", "GlobalFree")(memory);
}

BOOL WINAPI fakeShellExecuteExW(SHELLEXECUTEINFOW *info)
{
    StartedProcess started{info->fMask,          info->hwnd,           orNull(info->lpVerb),
                           orNull(info->lpFile), orNull(info->lpParameters), orNull(info->lpDirectory),
                           info->nShow};
    fakeWorld.started.push_back(started);
    note(L"ShellExecuteEx " + started.file + L"|" + started.parameters);

    ProcessScript script;
    if (!fakeWorld.processScripts.empty()) {
        script = fakeWorld.processScripts.front();
        fakeWorld.processScripts.pop_front();
    }
    if (script.startFails) {
        info->hProcess = nullptr;
        SetLastError(script.startError);
        return FALSE;
    }
    HANDLE process = reinterpret_cast<HANDLE>(internals().nextProcessHandle);
    internals().nextProcessHandle += 4;
    internals().runningScripts.push_back(script);
    internals().liveProcesses.insert(process);
    ++fakeWorld.liveProcessHandles;
    info->hProcess = (info->fMask & SEE_MASK_NOCLOSEPROCESS) ? process : nullptr;
    if (!info->hProcess) {
        internals().liveProcesses.erase(process);
        --fakeWorld.liveProcessHandles;
    }
    return TRUE;
}

// "/C COPY /B <file> "\\<host>\<share>"": the file's job arrives in the
// queue of that share name.
void makeCopysJob(ProcessScript &script)
{
    const std::wstring &line = fakeWorld.started.back().parameters;
    const std::wstring lead = L"/C COPY /B ";
    const size_t fileEnd = line.find(L' ', lead.size());
    const size_t shareStart = line.rfind(L'\\');
    if (!fakeWorld.copiesMakeJobs || line.compare(0, lead.size(), lead) != 0 || fileEnd == std::wstring::npos ||
        shareStart == std::wstring::npos || line.size() < shareStart + 2)
        return;
    const std::wstring file = line.substr(lead.size(), fileEnd - lead.size());
    const std::wstring share = line.substr(shareStart + 1, line.size() - shareStart - 2);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data))
        return;
    for (size_t i = 0; i < fakeWorld.queues.size(); ++i) {
        FakeQueue &queue = fakeWorld.queues[i];
        if (!queue.shareName || _wcsicmp(queue.shareName->c_str(), share.c_str()) != 0)
            continue;
        script.jobQueue = static_cast<int>(i);
        script.job = fakeWorld.nextJobId++;
        script.wholeSize = data.nFileSizeLow;
        queue.jobIds.push_back(script.job);
        queue.jobSizes[script.job] = script.wholeSize / 2;
        queue.jobStatus[script.job] = JOB_STATUS_SPOOLING;
        return;
    }
}

// The copy has ended: its job is spooled, whole only when it went through.
void endCopy(ProcessScript &script)
{
    script.ended = true;
    if (script.jobQueue < 0 || static_cast<size_t>(script.jobQueue) >= fakeWorld.queues.size())
        return;
    FakeQueue &queue = fakeWorld.queues[script.jobQueue];
    queue.jobStatus[script.job] = 0;
    if (!script.terminated && script.exitCode == 0)
        queue.jobSizes[script.job] = script.wholeSize;
    script.jobQueue = -1;
}

ProcessScript *scriptOf(HANDLE process)
{
    if (!internals().liveProcesses.count(process))
        return nullptr;
    return &internals().runningScripts[(reinterpret_cast<UINT_PTR>(process) - processHandleBase) / 4];
}

// Time passes on the doubles' clock; past its limit the test has waited for
// something that never came.
void advanceClock(DWORD milliseconds)
{
    fakeWorld.clock += milliseconds;
    if (fakeWorld.clock <= fakeWorld.clockLimit)
        return;
    // The throw ends the wait, and the test fails on it or on
    // fakeWorld.endlessWait; the code's own way out (its failure handling,
    // which may wait again) gets one more hour. A second endless wait would
    // keep the suite running until CTest's time-out: the program ends instead.
    std::fprintf(stderr, "the code under test waited for hours of scripted time: something it waits for never "
                         "comes%s\n",
                 fakeWorld.endlessWait ? " (again: ending the test program)" : "");
    std::fflush(stderr);
    if (fakeWorld.endlessWait)
        std::_Exit(3);
    fakeWorld.endlessWait = true;
    fakeWorld.clockLimit = fakeWorld.clock + 3600 * 1000;
    throw std::runtime_error("endless wait");
}

// The thread's queue holds something this wait wakes for. While it does,
// the doubles report it, so that the code under test dispatches it as it
// would on Windows; a bound keeps a message that never goes away from
// hanging the test.
bool messagesWaiting(DWORD wakeMask)
{
    const int bound = 1000;
    if (wakeMask == 0 || !(HIWORD(GetQueueStatus(wakeMask)) & wakeMask) || internals().messageReports >= bound)
        return false;
    ++internals().messageReports;
    return true;
}

DWORD WINAPI fakeMsgWaitForMultipleObjectsEx(DWORD count, const HANDLE *handles, DWORD milliseconds,
                                             DWORD wakeMask, DWORD flags)
{
    if (!recording || (count == 1 && handles[0] != nullptr && !isFakeProcess(handles[0])) || count > 1)
        return realFunction<decltype(&MsgWaitForMultipleObjectsEx)>(L"user32.dll", "MsgWaitForMultipleObjectsEx")(
            count, handles, milliseconds, wakeMask, flags);
    if (messagesWaiting(wakeMask))
        return WAIT_OBJECT_0 + count;
    internals().messageReports = 0;

    if (count == 0) {
        // Time passes at once, and only here.
        advanceClock(milliseconds);
        fakeWorld.sleeps.push_back(milliseconds);
        note(L"Sleep " + std::to_wstring(milliseconds));
        if (fakeWorld.onSleep)
            fakeWorld.onSleep(milliseconds);
        return WAIT_TIMEOUT;
    }
    if (handles[0] == nullptr) {
        note(L"Wait null");
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    HANDLE process = handles[0];
    ProcessScript *script = scriptOf(process);
    if (!script) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // The process "runs" once; what that posts is dispatched before it ends.
    if (!script->ran) {
        script->ran = true;
        note(L"Wait process");
        makeCopysJob(*script);
        if (script->onRun)
            script->onRun();
        if (messagesWaiting(wakeMask))
            return WAIT_OBJECT_0 + count;
        internals().messageReports = 0;
    }
    if (script->ended) {
        note(L"Wait process ended");
        return WAIT_OBJECT_0;
    }
    if (script->runsFor > 0 && milliseconds != INFINITE && milliseconds < script->runsFor) {
        script->runsFor -= milliseconds;
        advanceClock(milliseconds);
        fakeWorld.sleeps.push_back(milliseconds);
        note(L"Sleep " + std::to_wstring(milliseconds) + L" on the process");
        if (fakeWorld.onSleep)
            fakeWorld.onSleep(milliseconds);
        return WAIT_TIMEOUT;
    }
    const DWORD rest = script->runsFor;
    script->runsFor = 0;
    advanceClock(rest);
    if (script->waitResult == WAIT_FAILED)
        SetLastError(script->waitError);
    else if (script->waitResult == WAIT_OBJECT_0)
        endCopy(*script);
    return script->waitResult;
}

ULONGLONG WINAPI fakeGetTickCount64()
{
    if (!recording)
        return realFunction<decltype(&GetTickCount64)>(L"kernel32.dll", "GetTickCount64")();
    return fakeWorld.clock;
}

BOOL WINAPI fakeGetExitCodeProcess(HANDLE handle, LPDWORD exitCode)
{
    if (!isFakeProcess(handle))
        return realFunction<decltype(&GetExitCodeProcess)>(L"kernel32.dll", "GetExitCodeProcess")(handle, exitCode);
    const ProcessScript *script = scriptOf(handle);
    note(L"GetExitCodeProcess");
    if (!script) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (script->exitCodeFails) {
        SetLastError(script->exitCodeError);
        return FALSE;
    }
    *exitCode = script->ended ? script->exitCode : STILL_ACTIVE;
    return TRUE;
}

HANDLE WINAPI fakePowerCreateRequest(PREASON_CONTEXT context)
{
    std::wstring reason = context && (context->Flags & POWER_REQUEST_CONTEXT_SIMPLE_STRING)
                              ? orNull(context->Reason.SimpleReasonString)
                              : L"(none)";
    note(L"PowerCreateRequest " + reason);
    if (fakeWorld.powerRequestFails) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    ++fakeWorld.livePowerRequests;
    return powerRequestHandle;
}

BOOL WINAPI fakeTerminateProcess(HANDLE handle, UINT exitCode)
{
    if (!isFakeProcess(handle))
        return realFunction<decltype(&TerminateProcess)>(L"kernel32.dll", "TerminateProcess")(handle, exitCode);
    ProcessScript *script = scriptOf(handle);
    note(L"TerminateProcess");
    if (!script) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (script->ended || script->endsBeforeTermination) {
        endCopy(*script);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    script->terminated = true;
    script->exitCode = exitCode;
    endCopy(*script);
    ++fakeWorld.terminatedProcesses;
    return TRUE;
}

BOOL WINAPI fakePowerSetRequest(HANDLE request, POWER_REQUEST_TYPE type)
{
    note(L"PowerSetRequest " + std::to_wstring(type) + (request == powerRequestHandle ? L"" : L" unknown"));
    return request == powerRequestHandle;
}

BOOL WINAPI fakePowerClearRequest(HANDLE request, POWER_REQUEST_TYPE type)
{
    note(L"PowerClearRequest " + std::to_wstring(type) + (request == powerRequestHandle ? L"" : L" unknown"));
    return request == powerRequestHandle;
}

EXECUTION_STATE WINAPI fakeSetThreadExecutionState(EXECUTION_STATE flags)
{
    note(L"SetThreadExecutionState " + hex(flags));
    return ES_CONTINUOUS;
}

BOOL WINAPI fakeShutdownBlockReasonCreate(HWND, LPCWSTR reason)
{
    note(L"ShutdownBlockReasonCreate " + orNull(reason));
    return TRUE;
}

BOOL WINAPI fakeShutdownBlockReasonDestroy(HWND)
{
    note(L"ShutdownBlockReasonDestroy");
    return TRUE;
}

BOOL WINAPI fakeCloseHandle(HANDLE handle)
{
    if (handle == powerRequestHandle && recording) {
        note(L"CloseHandle power request");
        --fakeWorld.livePowerRequests;
        return TRUE;
    }
    if (!isFakeProcess(handle))
        return realFunction<decltype(&CloseHandle)>(L"kernel32.dll", "CloseHandle")(handle);
    note(L"CloseHandle process");
    if (!internals().liveProcesses.erase(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --fakeWorld.liveProcessHandles;
    return TRUE;
}

int WINAPI fakeMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    MSG queued;
    bool inputPending = PeekMessageW(&queued, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE) ||
                        PeekMessageW(&queued, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE);
    ShownBox box{owner, orNull(text), orNull(caption), type, inputPending};
    fakeWorld.boxes.push_back(box);
    note(L"MessageBox " + box.caption + L"|" + box.text);
    if (fakeWorld.onBox)
        return fakeWorld.onBox(box);
    if (fakeWorld.boxAnswers.empty())
        return IDOK;
    int answer = fakeWorld.boxAnswers.front();
    fakeWorld.boxAnswers.pop_front();
    return answer;
}

BOOL WINAPI fakeGetSystemPowerStatus(LPSYSTEM_POWER_STATUS status)
{
    if (!recording)
        return realFunction<decltype(&GetSystemPowerStatus)>(L"kernel32.dll", "GetSystemPowerStatus")(status);
    note(L"GetSystemPowerStatus");
    if (fakeWorld.powerStatusFails) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    *status = fakeWorld.powerStatus;
    return TRUE;
}

DWORD WINAPI fakeGetCurrentDirectoryW(DWORD capacity, LPWSTR buffer)
{
    if (!recording || !fakeWorld.currentDirectory)
        return realFunction<decltype(&GetCurrentDirectoryW)>(L"kernel32.dll", "GetCurrentDirectoryW")(capacity,
                                                                                                       buffer);
    const std::wstring &folder = *fakeWorld.currentDirectory;
    if (folder.size() >= capacity)
        return static_cast<DWORD>(folder.size() + 1);
    std::wmemcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<DWORD>(folder.size());
}

}  // namespace

// The import slots. Initialised with the doubles' addresses at compile time,
// so they are in place before any constructor runs. The 32-bit import
// libraries name a slot after the decorated stdcall symbol,
// __imp__Name@<argument bytes>, so there the slot takes that name; the byte
// count is checked against the function's own parameters.
template <typename Function> struct ArgumentBytes;
template <typename Result, typename... Parameters> struct ArgumentBytes<Result WINAPI(Parameters...)> {
    static constexpr size_t value = (size_t{0} + ... + ((sizeof(Parameters) + 3) / 4 * 4));
};
#if defined(_WIN64)
#define TAKE_OVER(name, fake, bytes) extern "C" { decltype(&::name) __imp_##name = &fake; }
#else
#define TAKE_OVER(name, fake, bytes)                                                                           \
    static_assert(ArgumentBytes<decltype(::name)>::value == bytes, #name " argument bytes");                  \
    extern "C" { decltype(&::name) slot_##name __asm__("__imp__" #name "@" #bytes) = &fake; }
#endif
TAKE_OVER(Sleep, fakeSleep, 4)
TAKE_OVER(GlobalAlloc, fakeGlobalAlloc, 8)
TAKE_OVER(GlobalFree, fakeGlobalFree, 4)
TAKE_OVER(ShellExecuteExW, fakeShellExecuteExW, 4)
TAKE_OVER(MsgWaitForMultipleObjectsEx, fakeMsgWaitForMultipleObjectsEx, 20)
TAKE_OVER(GetTickCount64, fakeGetTickCount64, 0)
TAKE_OVER(PowerCreateRequest, fakePowerCreateRequest, 4)
TAKE_OVER(PowerSetRequest, fakePowerSetRequest, 8)
TAKE_OVER(PowerClearRequest, fakePowerClearRequest, 8)
TAKE_OVER(SetThreadExecutionState, fakeSetThreadExecutionState, 4)
TAKE_OVER(ShutdownBlockReasonCreate, fakeShutdownBlockReasonCreate, 8)
TAKE_OVER(ShutdownBlockReasonDestroy, fakeShutdownBlockReasonDestroy, 4)
TAKE_OVER(GetExitCodeProcess, fakeGetExitCodeProcess, 8)
TAKE_OVER(TerminateProcess, fakeTerminateProcess, 8)
TAKE_OVER(CloseHandle, fakeCloseHandle, 4)
TAKE_OVER(MessageBoxW, fakeMessageBoxW, 16)
TAKE_OVER(GetCurrentDirectoryW, fakeGetCurrentDirectoryW, 8)
TAKE_OVER(GetSystemPowerStatus, fakeGetSystemPowerStatus, 4)
#undef TAKE_OVER

// ---- the spooler ----------------------------------------------------------

extern "C" BOOL WINAPI EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                                     LPDWORD needed, LPDWORD returned)
{
    fakeWorld.enumCalls.push_back(EnumCall{flags, name == nullptr, level, bufferSize});
    note(L"EnumPrinters " + std::to_wstring(bufferSize));
    *returned = 0;

    size_t total = 0;
    for (const FakeQueue &queue : fakeWorld.queues)
        total += settingsSize(queue);
    *needed = fakeWorld.enumProbeReportsZero ? 0 : static_cast<DWORD>(total);

    if (buffer == nullptr || bufferSize < total) {
        if (fakeWorld.queuesAddedBetweenEnumCalls && !fakeWorld.extraQueues.empty()) {
            size_t count = std::min(fakeWorld.queuesAddedBetweenEnumCalls, fakeWorld.extraQueues.size());
            fakeWorld.queues.insert(fakeWorld.queues.end(), fakeWorld.extraQueues.begin(),
                                    fakeWorld.extraQueues.begin() + count);
            fakeWorld.queuesAddedBetweenEnumCalls = 0;
        }
        if (total == 0)
            return TRUE;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (fakeWorld.enumFillFails) {
        SetLastError(fakeWorld.enumFillError);
        return FALSE;
    }
    auto *infos = reinterpret_cast<PRINTER_INFO_2W *>(buffer);
    BYTE *strings = buffer + fakeWorld.queues.size() * sizeof(PRINTER_INFO_2W);
    for (size_t i = 0; i < fakeWorld.queues.size(); ++i) {
        std::memset(&infos[i], 0, sizeof(PRINTER_INFO_2W));
        infos[i].Attributes = fakeWorld.queues[i].attributes;
        infos[i].Status = fakeWorld.queues[i].status;
        strings += packStrings(fakeWorld.queues[i], &infos[i], strings);
    }
    *returned = static_cast<DWORD>(fakeWorld.queues.size());
    return TRUE;
}

extern "C" BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults)
{
    std::wstring wanted = orNull(name);
    fakeWorld.openedNames.push_back(wanted);
    fakeWorld.openedAccess.push_back(defaults ? defaults->DesiredAccess : 0);
    note(L"OpenPrinter " + wanted);
    *handle = nullptr;
    if (fakeWorld.openFails) {
        SetLastError(fakeWorld.openError);
        return FALSE;
    }
    if (fakeWorld.administrationDenied && defaults && (defaults->DesiredAccess & PRINTER_ACCESS_ADMINISTER)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    for (size_t i = 0; i < fakeWorld.queues.size(); ++i) {
        if (name && fakeWorld.queues[i].printerName == wanted) {
            *handle = reinterpret_cast<HANDLE>(internals().nextPrinterHandle);
            internals().nextPrinterHandle += 4;
            internals().openPrinters.emplace_back(*handle, i);
            ++fakeWorld.openPrinterHandles;
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

extern "C" BOOL WINAPI GetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed)
{
    FakeQueue *queue = queueOf(handle);
    if (!queue || level != 2) {
        SetLastError(queue ? ERROR_INVALID_LEVEL : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD size = static_cast<DWORD>(settingsSize(*queue));
    *needed = size;
    if (buffer == nullptr || bufferSize < size) {
        note(L"GetPrinter probe");
        if (fakeWorld.probeReportsZero) {
            *needed = 0;
            return TRUE;
        }
        SetLastError(fakeWorld.probeFails ? fakeWorld.probeError : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    ++fakeWorld.readsIntoBuffer;
    if (fakeWorld.readsIntoBuffer == fakeWorld.failingRead) {
        note(L"GetPrinter failed");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto *info = reinterpret_cast<PRINTER_INFO_2W *>(buffer);
    std::memset(info, 0, sizeof(PRINTER_INFO_2W));
    packStrings(*queue, info, buffer + sizeof(PRINTER_INFO_2W));
    info->Attributes = queue->attributes;
    info->Status = queue->status;
    DWORD jobs = 0;
    if (!queue->jobCounts.empty())
        jobs = queue->jobCounts[std::min(queue->reads, queue->jobCounts.size() - 1)];
    ++queue->reads;
    info->cJobs = jobs;
    note(L"GetPrinter jobs " + std::to_wstring(jobs));
    return TRUE;
}

extern "C" BOOL WINAPI SetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD command)
{
    FakeQueue *queue = queueOf(handle);
    if (!queue) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Pausing and resuming: level 0 with a command. Windows refuses a handle
    // without the right to manage the queue; Wine refuses the command itself.
    if (level == 0 && buffer == nullptr &&
        (command == PRINTER_CONTROL_PAUSE || command == PRINTER_CONTROL_RESUME)) {
        const bool pause = command == PRINTER_CONTROL_PAUSE;
        note(std::wstring(L"SetPrinter ") + (pause ? L"pause" : L"resume"));
        if ((pause && fakeWorld.pauseFails) || (!pause && fakeWorld.resumeFails)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        queue->status = pause ? (queue->status | PRINTER_STATUS_PAUSED) : (queue->status & ~PRINTER_STATUS_PAUSED);
        return TRUE;
    }
    const auto *info = reinterpret_cast<const PRINTER_INFO_2W *>(buffer);
    PrinterWrite write{queue->printerName.value_or(L""), level, command, info ? info->Attributes : 0, {}, {}, {}, {}};
    if (info) {
        write.shareName = optional(info->pShareName);
        write.portName = optional(info->pPortName);
        write.driverName = optional(info->pDriverName);
        write.writtenPrinterName = optional(info->pPrinterName);
    }
    fakeWorld.writes.push_back(write);
    note(L"SetPrinter " + hex(write.attributes));
    if (fakeWorld.setFails || level != 2 || !info) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    queue->attributes = info->Attributes;
    return TRUE;
}

namespace {

// Fills one job's record of either level: level 1 and level 2 share their
// first fields' meaning, not their layout.
template <typename Info>
void describeJob(const FakeQueue &queue, DWORD id, const std::wstring &thisUser, Info &info)
{
    std::memset(&info, 0, sizeof(Info));
    info.JobId = id;
    auto text = [](const std::map<DWORD, std::wstring> &map, DWORD key, const std::wstring &otherwise) {
        auto found = map.find(key);
        return const_cast<LPWSTR>(found != map.end() ? found->second.c_str() : otherwise.c_str());
    };
    static const std::wstring copyDocument = L"Remote Downlevel Document", raw = L"RAW";
    info.pUserName = text(queue.jobUsers, id, thisUser);
    info.pDocument = text(queue.jobDocuments, id, copyDocument);
    info.pDatatype = text(queue.jobDatatypes, id, raw);
    auto status = queue.jobStatus.find(id);
    info.Status = status != queue.jobStatus.end() ? status->second : 0;
    auto priority = queue.jobPriorities.find(id);
    info.Priority = priority != queue.jobPriorities.end() ? priority->second : MIN_PRIORITY;
    auto submitted = queue.jobSubmitted.find(id);
    if (submitted != queue.jobSubmitted.end())
        info.Submitted = submitted->second;
    else
        GetSystemTime(&info.Submitted);
}

void sizeJob(const FakeQueue &queue, DWORD id, JOB_INFO_2W &info)
{
    auto size = queue.jobSizes.find(id);
    info.Size = size != queue.jobSizes.end() ? size->second : 0;
}

}  // namespace

extern "C" BOOL WINAPI EnumJobsW(HANDLE handle, DWORD firstJob, DWORD jobCount, DWORD level, LPBYTE buffer,
                                 DWORD bufferSize, LPDWORD needed, LPDWORD returned)
{
    FakeQueue *queue = queueOf(handle);
    *returned = 0;
    if (fakeWorld.onEnumJobs)
        fakeWorld.onEnumJobs();
    const bool knownLevel = level == 1 || level == 2;
    if (!queue || !knownLevel || fakeWorld.enumJobsFails) {
        note(L"EnumJobs failed");
        SetLastError(queue && knownLevel ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const size_t record = level == 1 ? sizeof(JOB_INFO_1W) : sizeof(JOB_INFO_2W);
    size_t first = std::min<size_t>(firstJob, queue->jobIds.size());
    size_t count = std::min<size_t>(jobCount, queue->jobIds.size() - first);
    *needed = static_cast<DWORD>(count * record);
    if (count == 0) {
        note(L"EnumJobs none");
        return TRUE;
    }
    if (buffer == nullptr || bufferSize < *needed) {
        note(L"EnumJobs probe");
        queue->jobIds.insert(queue->jobIds.end(), queue->jobsArrivingAfterProbe.begin(),
                             queue->jobsArrivingAfterProbe.end());
        queue->jobsArrivingAfterProbe.clear();
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    static std::wstring thisUser;
    WCHAR user[UNLEN + 1] = L"";
    DWORD capacity = ARRAYSIZE(user);
    thisUser = GetUserNameW(user, &capacity) ? user : L"";
    for (size_t i = 0; i < count; ++i) {
        const DWORD id = queue->jobIds[first + i];
        if (level == 1) {
            describeJob(*queue, id, thisUser, reinterpret_cast<JOB_INFO_1W *>(buffer)[i]);
        } else {
            auto &info = reinterpret_cast<JOB_INFO_2W *>(buffer)[i];
            describeJob(*queue, id, thisUser, info);
            sizeJob(*queue, id, info);
        }
    }
    *returned = static_cast<DWORD>(count);
    note(L"EnumJobs " + std::to_wstring(count));
    return TRUE;
}

extern "C" BOOL WINAPI SetJobW(HANDLE handle, DWORD job, DWORD level, LPBYTE info, DWORD command)
{
    FakeQueue *queue = queueOf(handle);
    if (fakeWorld.onSetJob)
        fakeWorld.onSetJob();
    const auto *settings = reinterpret_cast<const JOB_INFO_1W *>(info);
    note(L"SetJob " + std::to_wstring(job) + L" " + std::to_wstring(command) +
         (level == 1 && settings ? L" priority " + std::to_wstring(settings->Priority) : L""));
    if (!queue || !(level == 0 || (level == 1 && settings))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto found = std::find(queue->jobIds.begin(), queue->jobIds.end(), job);
    if (found == queue->jobIds.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fakeWorld.setJobFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (level == 1)
        queue->jobPriorities[job] = settings->Priority;
    if (command == JOB_CONTROL_DELETE) {
        queue->jobIds.erase(found);
        fakeWorld.deletedJobs.push_back(job);
    }
    return TRUE;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE handle)
{
    for (auto open = internals().openPrinters.begin(); open != internals().openPrinters.end(); ++open) {
        if (open->first != handle)
            continue;
        note(L"ClosePrinter " + fakeWorld.queues[open->second].printerName.value_or(L""));
        internals().openPrinters.erase(open);
        --fakeWorld.openPrinterHandles;
        return TRUE;
    }
    note(L"ClosePrinter unknown");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

void endRunningProcesses()
{
    for (ProcessScript &script : internals().runningScripts) {
        if (!script.ended)
            endCopy(script);
        script.runsFor = 0;
    }
}

void resetFakeWorld()
{
    fakeWorld = FakeWorld{};
    internals() = Internals{};
    recording = true;
}

std::vector<std::wstring> eventsStartingWith(const std::wstring &prefix)
{
    std::vector<std::wstring> found;
    for (const std::wstring &line : fakeWorld.events)
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    return found;
}

// A device-status library double for what the stand-in never does: failing
// on its own, and handing out null pointers. The test picks the behaviour in
// PROBE_DOUBLE_SCRIPT and reads what happened from PROBE_DOUBLE_LOG; both
// live in the process environment, so the log survives the unload that the
// test wants to see.
#include "identify/device_list.h"

#include <cstdio>
#include <cstring>

#if defined(PROBE_DEPENDENT)
extern "C" __declspec(dllimport) int probeHelperAnswer();
#endif

namespace {

const DeviceList *lastList = nullptr;
#if defined(__i386__)
// Where the caller left the stack pointer at the get call: the address of a
// 32-bit entry's first argument is the caller's stack pointer.
uintptr_t stackAtGet = 0;
#endif

void note(const char *event)
{
    char log[512] = "";
    DWORD length = GetEnvironmentVariableA("PROBE_DOUBLE_LOG", log, sizeof log);
    if (length >= sizeof log || length + std::strlen(event) + 2 > sizeof log)
        return;
    std::strcat(log, event);
    std::strcat(log, ";");
    SetEnvironmentVariableA("PROBE_DOUBLE_LOG", log);
}

bool scriptIs(const char *name)
{
    char script[64] = "";
    DWORD length = GetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", script, sizeof script);
    return length < sizeof script && std::strcmp(script, name) == 0;
}

// Every kind of null the tool must pass over, around records that match:
// a device with a null record array, a device without records, a record
// without a model but with a port, a matching record with a null attribute
// array, and a matching record whose port value is null.
DeviceAttribute portOfNoModel[] = {{portNameAttribute, "USB003", 0}};
DeviceAttribute nullPort[] = {{portNameAttribute, nullptr, 0}};
DeviceRecord nullRecords[] = {
    {{}, nullptr, {}, portOfNoModel, 1},
    {{}, "Vellumax 650", {}, nullptr, 2},
    {{}, "Tarnell Vellumax 350", {}, nullPort, 1},
};
DeviceEntry nullDevices[] = {{nullptr, 2}, {nullRecords, 0}, {nullRecords, 3}};

// One 350 on USB007: a found printer, to tell a call that went right.
DeviceAttribute port7[] = {{portNameAttribute, "USB007", 0}};
DeviceRecord printer350[] = {{{}, "Tarnell Vellumax 350", {}, port7, 1}};
DeviceEntry onePrinter[] = {{printer350, 1}};

}  // namespace

// Built twice in the 32-bit build: as the header declares the entries
// (stdcall), and with PROBE_CDECL, as a library that leaves its arguments to
// the caller.
#if defined(PROBE_CDECL)
#define PROBE_CALL __cdecl
#else
#define PROBE_CALL WINAPI
extern "C" GetDevicesFunction VXPROBE_GetDevices;
extern "C" ReleaseDevicesFunction VXPROBE_ReleaseDevices;
#endif

extern "C" int32_t PROBE_CALL VXPROBE_GetDevices(DeviceList *list, int32_t scope, int32_t detail)
{
    bool fresh = list->devices == nullptr && list->deviceCount == 0 && list->flag == 0;
    note(scope == 0 && detail == 4 && fresh ? "get 0 4 fresh" : "get unexpected");
    lastList = list;
#if defined(__i386__)
    stackAtGet = reinterpret_cast<uintptr_t>(&list);
#endif
#if defined(PROBE_LOADS_HELPER)
    // As a maker's library reaches the USB stack: a DLL of its own, beside
    // it, loaded by name while it is asked.
    if (HMODULE helper = LoadLibraryA("vxprobe_helper.dll")) {
        note("helper");
        FreeLibrary(helper);
    }
#endif
    if (scriptIs("fail"))
        return 7;
    if (scriptIs("null-devices")) {
        list->deviceCount = 3;
        return 0;
    }
    if (scriptIs("nulls")) {
        list->devices = nullDevices;
        list->deviceCount = 3;
    }
    if (scriptIs("one-printer")) {
        list->devices = onePrinter;
        list->deviceCount = 1;
    }
    return 0;
}

extern "C" int32_t PROBE_CALL VXPROBE_ReleaseDevices(DeviceList *list)
{
    note(list == lastList ? "release same" : "release other");
#if defined(__i386__)
    // A caller that does not clean up after a cdecl entry makes the next
    // call with its stack pointer off by the arguments left behind; the test
    // compares this distance across the two conventions.
    char distance[32];
    std::snprintf(distance, sizeof distance, "stack %+ld",
                  static_cast<long>(reinterpret_cast<uintptr_t>(&list) - stackAtGet));
    note(distance);
#endif
    return 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        note("attach");
#if defined(PROBE_DEPENDENT)
        if (probeHelperAnswer() == 42)
            note("helper");
#endif
    }
    else if (reason == DLL_PROCESS_DETACH)
        note("detach");
    return TRUE;
}

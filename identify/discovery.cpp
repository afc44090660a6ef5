#include "identify/discovery.h"

#include "base/system_libraries.h"
#include "base/text.h"
#include "identify/catalogue.h"
#include "identify/device_list.h"
#include "identify/queues.h"

#include <strsafe.h>

#include <cwchar>
#include <memory>
#include <new>
#include <type_traits>

namespace {

struct LibraryRelease {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
typedef std::unique_ptr<std::remove_pointer<HMODULE>::type, LibraryRelease> LibraryHandle;

#if defined(__i386__)
// The library's entries may be stdcall (they pop their arguments) or cdecl
// (they leave them to the caller), and a call through the wrong type leaves
// the stack pointer off by the argument bytes: harmless only while the
// caller happens to restore it from a frame pointer. This thunk keeps the
// stack pointer in a frame of its own and restores it after the call, so
// either convention leaves the stack as it was. It pushes the arguments last
// to first on a 16-byte aligned stack, as both conventions expect, and
// returns EAX.
//
// Naked: the compiler adds no prologue or epilogue of its own, so the body
// reads its cdecl arguments (entry, arguments, count) at 8, 12 and 16 bytes
// above the saved EBP.
__attribute__((naked, noinline)) int32_t __cdecl callKeepingStack(void (*)(void), const uintptr_t *, uint32_t)
{
    __asm__("    pushl %ebp\n"
            "    movl %esp, %ebp\n"
            "    pushl %esi\n"
            "    pushl %edi\n"
            "    pushl %ebx\n"
            "    movl 12(%ebp), %esi\n"
            "    movl 16(%ebp), %ecx\n"
            "    leal 0(,%ecx,4), %eax\n"
            "    negl %eax\n"
            "    andl $15, %eax\n"
            "    andl $-16, %esp\n"
            "    subl %eax, %esp\n"
            "1:  testl %ecx, %ecx\n"
            "    jz 2f\n"
            "    decl %ecx\n"
            "    pushl (%esi,%ecx,4)\n"
            "    jmp 1b\n"
            "2:  calll *8(%ebp)\n"
            "    leal -12(%ebp), %esp\n"
            "    popl %ebx\n"
            "    popl %edi\n"
            "    popl %esi\n"
            "    popl %ebp\n"
            "    retl\n");
}

int32_t callGetDevices(GetDevicesFunction *getDevices, DeviceList *list, int32_t scope, int32_t detail)
{
    const uintptr_t arguments[] = {reinterpret_cast<uintptr_t>(list), static_cast<uintptr_t>(scope),
                                   static_cast<uintptr_t>(detail)};
    return callKeepingStack(reinterpret_cast<void (*)(void)>(getDevices), arguments, ARRAYSIZE(arguments));
}

void callReleaseDevices(ReleaseDevicesFunction *releaseDevices, DeviceList *list)
{
    const uintptr_t arguments[] = {reinterpret_cast<uintptr_t>(list)};
    callKeepingStack(reinterpret_cast<void (*)(void)>(releaseDevices), arguments, ARRAYSIZE(arguments));
}
#else
int32_t callGetDevices(GetDevicesFunction *getDevices, DeviceList *list, int32_t scope, int32_t detail)
{
    return getDevices(list, scope, detail);
}

void callReleaseDevices(ReleaseDevicesFunction *releaseDevices, DeviceList *list)
{
    releaseDevices(list);
}
#endif

// Converts a narrow string from the library; null when it is null or cannot
// be converted.
std::unique_ptr<WCHAR[]> widen(const char *text)
{
    if (text == nullptr)
        return nullptr;
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return nullptr;
    std::unique_ptr<WCHAR[]> wide(new (std::nothrow) WCHAR[length]);
    if (!wide || MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), length) != length)
        return nullptr;
    return wide;
}

// A port attribute's value, converted aside so that a value that cannot be
// taken leaves what was there. An empty value is refused: it names no port,
// so no queue could be the printer's. A value too long for portName is
// refused too, since a shortened port would select the wrong queue.
bool convertPort(const char *value, WCHAR (&port)[nameCapacity])
{
    if (value == nullptr)
        return false;
    int length = MultiByteToWideChar(CP_ACP, 0, value, -1, nullptr, 0);
    if (length < 2 || length > static_cast<int>(nameCapacity))
        return false;
    WCHAR converted[nameCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, value, -1, converted, ARRAYSIZE(converted)) != length)
        return false;
    return copyText(port, converted);
}

// The firmware kind a model needs, leaving firmwareKind alone: a record
// counts only together with a port of its own.
bool modelKind(const WCHAR *model, FirmwareKind &kind)
{
    kind = modelFamilyKind(model);
    return kind != FirmwareNone;
}

// One printer per port: a port reported again by a later record is the same
// printer, described by that later record. Records of that port that name
// models needing different firmware leave its kind FirmwareNone for good:
// which one is right cannot be told, and a guess sends one model's firmware
// to the other.
void notePrinter(const WCHAR *model, FirmwareKind kind, const WCHAR (&port)[nameCapacity])
{
    // The model is only shown to the user, so one too long for its field is
    // kept in part; how that shows is the window's to say.
    FoundPrinter printer = {};
    printer.modelCut = !copyText(printer.model, model);
    printer.firmwareKind = kind;
    copyText(printer.portName, port);
    for (FoundPrinter &known : upgradeState.foundPrinters) {
        if (samePortName(known.portName, port)) {
            if (known.firmwareKind != kind)
                printer.firmwareKind = FirmwareNone;
            known = printer;
            return;
        }
    }
    upgradeState.foundPrinters.push_back(printer);
}

// Every record of every device is visited. A matching record with a usable
// port sets portName and firmwareKind together, so the kind always belongs
// to the printer on that port; one without a port changes neither. Within a
// record the last usable port counts, and across records the last one. A
// null pointer from the library is passed over rather than trusted together
// with its count.
int readDevices(const DeviceList &list)
{
    int result = 0;
    for (uint32_t d = 0; d < list.deviceCount; ++d) {
        const DeviceEntry &device = list.devices[d];
        if (device.records == nullptr)
            continue;
        for (uint32_t r = 0; r < device.recordCount; ++r) {
            const DeviceRecord &record = device.records[r];
            std::unique_ptr<WCHAR[]> model = widen(record.model);
            FirmwareKind kind = FirmwareNone;
            if (!model || record.attributes == nullptr || !modelKind(model.get(), kind))
                continue;
            WCHAR port[nameCapacity] = L"";
            bool hasPort = false;
            for (uint32_t a = 0; a < record.attributeCount; ++a) {
                const DeviceAttribute &attribute = record.attributes[a];
                if (attribute.type == portNameAttribute && convertPort(attribute.value, port))
                    hasPort = true;
            }
            if (!hasPort || !copyText(upgradeState.portName, port))
                continue;
            upgradeState.firmwareKind = kind;
            notePrinter(model.get(), kind, port);
            result = 1;
        }
    }
    return result;
}

const WCHAR libraryName[] = L"vxprobe.dll";

// "<the tool's folder>\vxprobe.dll", or the system folder's, by full path.
bool libraryPath(WCHAR (&path)[MAX_PATH], bool besideTool)
{
    if (!besideTool)
        return systemFolderPath(path, libraryName);
    DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    WCHAR *name = length != 0 && length < ARRAYSIZE(path) ? std::wcsrchr(path, L'\\') : nullptr;
    if (name == nullptr)
        return false;
    name[1] = L'\0';
    return appendText(path, libraryName);
}

// A file that cannot be looked at counts as there, so that its load says why.
bool fileThere(const WCHAR *path)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Beside the tool, where the maker's library is delivered, else from the
// system folder; never by its bare name, whose search takes in the current
// folder (the firmware folder, often Downloads) and PATH, where anyone can
// leave a DLL. The first file that is there decides: one that cannot be
// loaded (193: built for the other bitness; 126: one of its own DLLs is
// missing) is what the user has to hear about, and a library in the system
// folder must not stand in for it.
bool deviceLibraryPath(WCHAR (&path)[MAX_PATH])
{
    for (bool besideTool : {true, false}) {
        if (libraryPath(path, besideTool) && fileThere(path))
            return true;
    }
    return false;
}

// The library's own DLLs come from its folder, then the system folder. The
// error is left in libraryError for the not-detected box.
HMODULE loadDeviceLibrary(const WCHAR *path)
{
    HMODULE module = loadLibraryAtPath(path);
    DWORD error = module ? ERROR_SUCCESS : GetLastError();
    upgradeState.libraryError = module || error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
    return module;
}

}  // namespace

int detectPrinter()
{
    upgradeState.foundPrinters.clear();
    WCHAR path[MAX_PATH];
    if (!deviceLibraryPath(path)) {
        upgradeState.libraryError = ERROR_MOD_NOT_FOUND;
        return 0;
    }
    // The library may load DLLs of its own by name while it runs, from its
    // folder as it was built to; the search is widened for that span only,
    // from the load until the library has been freed (the handle below goes
    // first), and is the system folder alone again afterwards.
    LibraryFolderSearch librarySearch(path);
    // Loaded afresh on every call, so each attempt sees the devices attached
    // at that moment; the handle frees the library on every path.
    LibraryHandle library(loadDeviceLibrary(path));
    if (!library)
        return 0;

    GetDevicesFunction *getDevices = resolve<GetDevicesFunction>(library.get(), getDevicesName);
    ReleaseDevicesFunction *releaseDevices = resolve<ReleaseDevicesFunction>(library.get(), releaseDevicesName);
    // Without the release entry the list could never be given back, so a
    // library lacking either entry is not asked at all.
    if (getDevices == nullptr || releaseDevices == nullptr)
        return 0;

    DeviceList list = {};
    // The library may have taken resources even on failure, and a list that
    // cannot grow while a printer is noted must not skip the release: it
    // goes before the library is freed, on every path.
    struct Release {
        ReleaseDevicesFunction *release;
        DeviceList *list;
        ~Release() { callReleaseDevices(release, list); }
    } release{releaseDevices, &list};
    if (callGetDevices(getDevices, &list, 0, 4) == 0 && list.deviceCount != 0 && list.devices != nullptr)
        return readDevices(list);
    return 0;
}

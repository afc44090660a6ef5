#include "identify/discovery.h"

#include "app/text.h"
#include "identify/catalogue.h"
#include "identify/device_list.h"

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

template <typename Function>
Function *resolve(HMODULE module, const char *name)
{
    return reinterpret_cast<Function *>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

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

// Takes a port attribute's value into upgradeState.portName. An empty value
// is refused: the queue lookup searches for portName inside every queue's
// port text, so an empty one would select every queue on the computer. A
// value too long for portName is refused too, since a shortened port would
// select the wrong queue.
bool takePort(const char *value)
{
    if (value == nullptr)
        return false;
    int length = MultiByteToWideChar(CP_ACP, 0, value, -1, nullptr, 0);
    if (length < 2 || length > static_cast<int>(nameCapacity))
        return false;
    // Converted aside first, so that portName never holds half a value.
    WCHAR port[nameCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, value, -1, port, ARRAYSIZE(port)) != length)
        return false;
    return SUCCEEDED(StringCchCopyW(upgradeState.portName, ARRAYSIZE(upgradeState.portName), port));
}

// Every record of every device is visited and the last port of a matching
// record wins. A null pointer from the library is passed over rather than
// trusted together with its count.
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
            if (!model || !matchModelFamily(model.get()) || record.attributes == nullptr)
                continue;
            for (uint32_t a = 0; a < record.attributeCount; ++a) {
                const DeviceAttribute &attribute = record.attributes[a];
                if (attribute.type == portNameAttribute && takePort(attribute.value))
                    result = 1;
            }
        }
    }
    return result;
}

const WCHAR libraryName[] = L"vxprobe.dll";

// "<the tool's folder>\vxprobe.dll", or the system folder's, by full path.
bool libraryPath(WCHAR (&path)[MAX_PATH], bool besideTool)
{
    if (besideTool) {
        DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
        WCHAR *name = length != 0 && length < ARRAYSIZE(path) ? std::wcsrchr(path, L'\\') : nullptr;
        if (name == nullptr)
            return false;
        name[1] = L'\0';
    } else {
        UINT length = GetSystemDirectoryW(path, ARRAYSIZE(path));
        if (length == 0 || length >= ARRAYSIZE(path) || !appendText(path, L"\\"))
            return false;
    }
    return appendText(path, libraryName);
}

// Beside the tool, where the maker's library is delivered, else from the
// system folder; never by its bare name, whose search takes in the current
// folder (the firmware folder, often Downloads) and PATH, where anyone can
// leave a DLL. With a full path, LOAD_WITH_ALTERED_SEARCH_PATH looks for the
// library's own dependencies in its folder. The error of the failed load is
// left in libraryError for the not-detected box.
HMODULE loadDeviceLibrary()
{
    DWORD error = ERROR_MOD_NOT_FOUND;
    for (bool besideTool : {true, false}) {
        WCHAR path[MAX_PATH];
        if (!libraryPath(path, besideTool))
            continue;
        HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module) {
            upgradeState.libraryError = ERROR_SUCCESS;
            return module;
        }
        error = GetLastError();
        // A library that is there but cannot be loaded (193: built for the
        // other bitness) is what the user has to hear about.
        if (error != ERROR_MOD_NOT_FOUND)
            break;
    }
    upgradeState.libraryError = error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
    return nullptr;
}

}  // namespace

int detectPrinter()
{
    // Loaded afresh on every call, so each attempt sees the devices attached
    // at that moment; the handle frees the library on every path.
    LibraryHandle library(loadDeviceLibrary());
    if (!library)
        return 0;

    GetDevicesFunction *getDevices = resolve<GetDevicesFunction>(library.get(), getDevicesName);
    ReleaseDevicesFunction *releaseDevices = resolve<ReleaseDevicesFunction>(library.get(), releaseDevicesName);
    // Without the release entry the list could never be given back, so a
    // library lacking either entry is not asked at all.
    if (getDevices == nullptr || releaseDevices == nullptr)
        return 0;

    DeviceList list = {};
    int result = 0;
    if (getDevices(&list, 0, 4) == 0 && list.deviceCount != 0 && list.devices != nullptr)
        result = readDevices(list);
    // The library may have taken resources even on failure.
    releaseDevices(&list);
    return result;
}

#include "identify/discovery.h"

#include "identify/catalogue.h"
#include "identify/device_list.h"

#include <strsafe.h>

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

}  // namespace

int detectPrinter()
{
    // Loaded afresh on every call, so each attempt sees the devices attached
    // at that moment; the handle frees the library on every path.
    LibraryHandle library(LoadLibraryExA("vxprobe.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
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

// A stand-in for the printer maker's device-status library, for machines that
// do not have it. It reports the devices described in vxprobe.txt beside the
// DLL, read afresh on every call so that the file can change while the tool
// searches. The format, one directive per line:
//
//   device                  starts a device (it may have no records)
//   record <model>          adds a record to the current device; the model is
//                           the rest of the line after one blank
//   attr <type> <value>     adds an attribute of decimal type to the current
//                           record; the value is the rest of the line
//   port <value>            the same as attr 9 <value>
//   fail <code>             the call fails with this nonzero code
//   delay <ms>              the call takes this long, as a real search of
//                           the USB devices can
//   helper <dll>            the call loads this DLL by its bare name and
//                           frees it again, as a maker's library may load
//                           one of its own to reach the USB stack; it fails
//                           (code 126) when the DLL cannot be loaded
//
// Blank lines and lines starting with # are ignored, as are leading blanks.
// Bytes go through unchanged, so the strings are in the ANSI code page the
// caller converts from. No file, or an empty one, means no devices; any other
// line, or an attribute with no record to belong to, makes the call fail.

#include "identify/device_list.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

const int32_t success = 0;
const int32_t unreadableFile = 2;
const int32_t outOfMemory = 8;
const int32_t helperNotLoaded = 126;

HMODULE thisModule = nullptr;

struct Attribute {
    uint32_t type;
    std::string value;
};

struct Record {
    std::string model;
    std::vector<Attribute> attributes;
};

typedef std::vector<Record> Device;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Splits "keyword rest": true when the line is the keyword alone or the
// keyword followed by a blank, leaving what follows that blank in rest.
bool directive(const std::string &line, const char *keyword, std::string &rest)
{
    size_t length = std::strlen(keyword);
    if (line.compare(0, length, keyword) != 0)
        return false;
    if (line.size() == length) {
        rest.clear();
        return true;
    }
    if (!isBlank(line[length]))
        return false;
    rest = line.substr(length + 1);
    return true;
}

// Whole-text decimal number, optionally signed, within the given range.
bool parseNumber(const std::string &text, long long low, long long high, long long &number)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size())
        return false;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
        if (value > high - low)  // stops the growth long before it can overflow
            return false;
    }
    number = negative ? -value : value;
    return number >= low && number <= high;
}

std::string trimEnd(std::string text)
{
    while (!text.empty() && isBlank(text.back()))
        text.pop_back();
    return text;
}

// An attribute belongs to the latest record of the latest device; there must
// be one.
bool addAttribute(std::vector<Device> &devices, uint32_t type, const std::string &value)
{
    if (devices.empty() || devices.back().empty())
        return false;
    devices.back().back().attributes.push_back(Attribute{type, value});
    return true;
}

// Returns success, the code of a fail directive, or unreadableFile.
int32_t parse(const std::string &text, std::vector<Device> &devices)
{
    int32_t failCode = success;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t first = 0;
        while (first < line.size() && isBlank(line[first]))
            ++first;
        line.erase(0, first);
        if (line.empty() || line[0] == '#')
            continue;

        std::string rest;
        if (directive(line, "device", rest)) {
            if (!trimEnd(rest).empty())
                return unreadableFile;
            devices.emplace_back();
        } else if (directive(line, "record", rest)) {
            if (devices.empty())
                devices.emplace_back();
            devices.back().push_back(Record{rest, {}});
        } else if (directive(line, "attr", rest)) {
            size_t blank = 0;
            while (blank < rest.size() && !isBlank(rest[blank]))
                ++blank;
            long long type = 0;
            if (!parseNumber(rest.substr(0, blank), 0, UINT32_MAX, type))
                return unreadableFile;
            rest = blank < rest.size() ? rest.substr(blank + 1) : std::string();
            if (!addAttribute(devices, static_cast<uint32_t>(type), rest))
                return unreadableFile;
        } else if (directive(line, "port", rest)) {
            if (!addAttribute(devices, portNameAttribute, rest))
                return unreadableFile;
        } else if (directive(line, "delay", rest)) {
            long long milliseconds = 0;
            if (!parseNumber(trimEnd(rest), 0, 60000, milliseconds))
                return unreadableFile;
            Sleep(static_cast<DWORD>(milliseconds));
        } else if (directive(line, "helper", rest)) {
            HMODULE helper = LoadLibraryA(trimEnd(rest).c_str());
            if (helper == nullptr)
                return helperNotLoaded;
            FreeLibrary(helper);
        } else if (directive(line, "fail", rest)) {
            long long code = 0;
            if (!parseNumber(trimEnd(rest), INT32_MIN, INT32_MAX, code) || code == 0)
                return unreadableFile;
            failCode = static_cast<int32_t>(code);
        } else {
            return unreadableFile;
        }
    }
    return failCode;
}

// The device file's path: the DLL's own folder, wherever the caller loaded it
// from.
bool devicesFilePath(std::wstring &path)
{
    std::vector<WCHAR> name(32768);
    DWORD length = GetModuleFileNameW(thisModule, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0 || length >= name.size())
        return false;
    path.assign(name.data(), length);
    size_t slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    path += L"vxprobe.txt";
    return true;
}

// success with an empty text when there is no file.
int32_t readDevicesFile(std::string &text)
{
    std::wstring path;
    if (!devicesFilePath(path))
        return unreadableFile;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? success : unreadableFile;
    }
    int32_t status = success;
    char chunk[4096];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &read, nullptr)) {
            status = unreadableFile;
            break;
        }
        if (read == 0)
            break;
        text.append(chunk, read);
        // A device description is a few lines; anything this large is not one.
        if (text.size() > (1u << 20)) {
            status = unreadableFile;
            break;
        }
    }
    CloseHandle(file);
    return status;
}

size_t roundUp(size_t size)
{
    const size_t alignment = alignof(void *);
    return (size + alignment - 1) / alignment * alignment;
}

// Lays the devices out in one heap block: entries, records, attributes, then
// the strings. The entries come first, so list->devices is the block itself
// and the release needs nothing but the list.
int32_t handOut(const std::vector<Device> &devices, DeviceList &list)
{
    if (devices.empty())
        return success;
    size_t recordCount = 0, attributeCount = 0, textBytes = 0;
    for (const Device &device : devices) {
        recordCount += device.size();
        for (const Record &record : device) {
            attributeCount += record.attributes.size();
            textBytes += record.model.size() + 1;
            for (const Attribute &attribute : record.attributes)
                textBytes += attribute.value.size() + 1;
        }
    }
    size_t entriesBytes = roundUp(devices.size() * sizeof(DeviceEntry));
    size_t recordsBytes = roundUp(recordCount * sizeof(DeviceRecord));
    size_t attributesBytes = roundUp(attributeCount * sizeof(DeviceAttribute));
    BYTE *block = static_cast<BYTE *>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, entriesBytes + recordsBytes + attributesBytes + textBytes));
    if (block == nullptr)
        return outOfMemory;

    auto *entry = reinterpret_cast<DeviceEntry *>(block);
    auto *record = reinterpret_cast<DeviceRecord *>(block + entriesBytes);
    auto *attribute = reinterpret_cast<DeviceAttribute *>(block + entriesBytes + recordsBytes);
    char *text = reinterpret_cast<char *>(block + entriesBytes + recordsBytes + attributesBytes);
    auto keep = [&text](const std::string &value) {
        const char *kept = text;
        std::memcpy(text, value.c_str(), value.size() + 1);
        text += value.size() + 1;
        return kept;
    };
    for (const Device &device : devices) {
        entry->records = device.empty() ? nullptr : record;
        entry->recordCount = static_cast<uint32_t>(device.size());
        ++entry;
        for (const Record &source : device) {
            record->model = keep(source.model);
            record->attributes = source.attributes.empty() ? nullptr : attribute;
            record->attributeCount = static_cast<uint32_t>(source.attributes.size());
            ++record;
            for (const Attribute &value : source.attributes) {
                attribute->type = value.type;
                attribute->value = keep(value.value);
                ++attribute;
            }
        }
    }
    list.devices = reinterpret_cast<DeviceEntry *>(block);
    list.deviceCount = static_cast<uint32_t>(devices.size());
    return success;
}

}  // namespace

extern "C" GetDevicesFunction VXPROBE_GetDevices;
extern "C" ReleaseDevicesFunction VXPROBE_ReleaseDevices;

extern "C" int32_t WINAPI VXPROBE_GetDevices(DeviceList *list, int32_t /*scope*/, int32_t /*detail*/)
{
    if (list == nullptr)
        return unreadableFile;
    // Only the two fields this library owns are written; a failed call hands
    // out nothing, so the release that follows it has nothing to free.
    list->devices = nullptr;
    list->deviceCount = 0;
    try {
        std::string text;
        int32_t status = readDevicesFile(text);
        std::vector<Device> devices;
        if (status == success)
            status = parse(text, devices);
        if (status == success)
            status = handOut(devices, *list);
        return status;
    } catch (const std::bad_alloc &) {
        return outOfMemory;
    } catch (...) {
        return unreadableFile;
    }
}

extern "C" int32_t WINAPI VXPROBE_ReleaseDevices(DeviceList *list)
{
    if (list == nullptr)
        return 0;
    if (list->devices != nullptr)
        HeapFree(GetProcessHeap(), 0, list->devices);
    list->devices = nullptr;
    list->deviceCount = 0;
    return 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// The device list that the device-status library hands out, and its two
// entry points. The tool and the stand-in library both include this header,
// so the layout and the calling convention are written down once.
//
// The library's own build is 32-bit and fixes the byte offsets checked below.
// A 64-bit build keeps the same fields in the same order in natural C layout
// (8-byte pointers, 4-byte counts and words), checked as well, so that a
// 64-bit library built from this header agrees with a 64-bit tool.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The attribute type whose value names the spooler port the device is on,
// such as "USB001".
constexpr uint32_t portNameAttribute = 9;

struct DeviceAttribute {
    uint32_t type;
    const char *value;  // NUL-terminated, ANSI code page
    uint32_t unused;
};

struct DeviceRecord {
    uint32_t unused0[3];
    const char *model;  // NUL-terminated, ANSI code page
    uint32_t unused1[3];
    DeviceAttribute *attributes;
    uint32_t attributeCount;
};

struct DeviceEntry {
    DeviceRecord *records;
    uint32_t recordCount;  // may be 0
};

// Owned by the caller; the library fills devices and deviceCount and points
// them at memory of its own until the release call.
struct DeviceList {
    DeviceEntry *devices;
    uint32_t deviceCount;
    uint8_t flag;  // 0 before the call; not read afterwards
};

#if defined(_WIN64)
static_assert(sizeof(DeviceList) == 16 && offsetof(DeviceList, deviceCount) == 8 && offsetof(DeviceList, flag) == 12,
              "64-bit DeviceList layout");
static_assert(sizeof(DeviceEntry) == 16 && offsetof(DeviceEntry, recordCount) == 8, "64-bit DeviceEntry layout");
static_assert(sizeof(DeviceRecord) == 56 && offsetof(DeviceRecord, model) == 16 &&
                  offsetof(DeviceRecord, attributes) == 40 && offsetof(DeviceRecord, attributeCount) == 48,
              "64-bit DeviceRecord layout");
static_assert(sizeof(DeviceAttribute) == 24 && offsetof(DeviceAttribute, value) == 8 &&
                  offsetof(DeviceAttribute, unused) == 16,
              "64-bit DeviceAttribute layout");
#else
// The library's documented layout; a mismatch here would make the tool read
// the wrong bytes of every record.
static_assert(sizeof(DeviceList) == 12 && offsetof(DeviceList, deviceCount) == 4 && offsetof(DeviceList, flag) == 8,
              "DeviceList layout");
static_assert(sizeof(DeviceEntry) == 8 && offsetof(DeviceEntry, recordCount) == 4, "DeviceEntry layout");
static_assert(sizeof(DeviceRecord) == 36 && offsetof(DeviceRecord, model) == 12 &&
                  offsetof(DeviceRecord, attributes) == 28 && offsetof(DeviceRecord, attributeCount) == 32,
              "DeviceRecord layout");
static_assert(sizeof(DeviceAttribute) == 12 && offsetof(DeviceAttribute, value) == 4 &&
                  offsetof(DeviceAttribute, unused) == 8,
              "DeviceAttribute layout");
#endif

// Exported undecorated, as "VXPROBE_GetDevices" and "VXPROBE_ReleaseDevices".
//
// GetDevices returns 0 and fills the list on success, anything else on
// failure. The tool always passes 0 and 4 as the last two arguments; what
// they select is the library's business. ReleaseDevices frees everything a
// GetDevices handed out and must accept the list after a failed call too;
// its result means nothing to the tool.
//
// The library does not say whether its entries clean up their own arguments
// (stdcall) or leave that to the caller (cdecl). The types say stdcall, as
// the stand-in is built, but the tool calls both through a wrapper that
// stands either way (see discovery.cpp); the 64-bit build has one convention.
typedef int32_t WINAPI GetDevicesFunction(DeviceList *list, int32_t scope, int32_t detail);
typedef int32_t WINAPI ReleaseDevicesFunction(DeviceList *list);

constexpr char getDevicesName[] = "VXPROBE_GetDevices";
constexpr char releaseDevicesName[] = "VXPROBE_ReleaseDevices";

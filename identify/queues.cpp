#include "identify/queues.h"

#include <winspool.h>
#include <strsafe.h>

#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>

namespace {

const DWORD enumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;

// A null source leaves the field empty. A name that does not fit fails: a
// shortened queue name cannot be opened and a shortened share or port would
// address something else.
bool copyName(WCHAR (&field)[nameCapacity], const WCHAR *source)
{
    return source == nullptr || SUCCEEDED(StringCchCopyW(field, ARRAYSIZE(field), source));
}

bool fillRecord(const PRINTER_INFO_2W &info, PrintQueueRecord &record)
{
    record = PrintQueueRecord{};
    if (!copyName(record.driverName, info.pDriverName) || !copyName(record.printerName, info.pPrinterName) ||
        !copyName(record.portName, info.pPortName) || !copyName(record.shareName, info.pShareName))
        return false;
    record.isShared = static_cast<int>(info.Attributes & PRINTER_ATTRIBUTE_SHARED);
    return true;
}

// The ports a queue prints to: its port text split at commas, each without
// the blanks around it. True when one of them is the port; others is set when
// any other port is named too (a pool, whose jobs the spooler hands to
// whichever of its printers is free).
bool portsNamed(const WCHAR *portText, const WCHAR *port, bool &others)
{
    bool named = false;
    others = false;
    for (const WCHAR *part = portText; part != nullptr;) {
        const WCHAR *comma = std::wcschr(part, L',');
        const WCHAR *end = comma ? comma : part + std::wcslen(part);
        while (part < end && std::iswspace(*part))
            ++part;
        while (end > part && std::iswspace(end[-1]))
            --end;
        if (end > part) {
            if (samePortName(part, static_cast<int>(end - part), port))
                named = true;
            else
                others = true;
        }
        part = comma ? comma + 1 : nullptr;
    }
    return named;
}

}  // namespace

bool samePortName(const WCHAR *a, int length, const WCHAR *b)
{
    return CompareStringOrdinal(a, length, b, -1, TRUE) == CSTR_EQUAL;
}

bool samePortName(const WCHAR *a, const WCHAR *b)
{
    return samePortName(a, -1, b);
}

bool lookUpPrintQueues(const WCHAR *port, PortQueues &lookup)
{
    lookup = PortQueues{};
    if (port == nullptr || port[0] == L'\0')
        return false;

    DWORD needed = 0;
    DWORD returned = 0;
    if (!EnumPrintersW(enumFlags, nullptr, 2, nullptr, 0, &needed, &returned)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER)
            return false;
    }
    if (needed == 0)
        return false;

    // Fresh operator new storage is aligned for PRINTER_INFO_2W.
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer)
        return false;
    // One attempt only: queues added since the probe make this call fail,
    // and the caller reports that as a missing queue.
    DWORD size = needed;
    if (!EnumPrintersW(enumFlags, nullptr, 2, buffer.get(), size, &needed, &returned) || returned == 0)
        return false;
    if (returned > size / sizeof(PRINTER_INFO_2W))
        returned = size / sizeof(PRINTER_INFO_2W);

    const auto *queues = reinterpret_cast<const PRINTER_INFO_2W *>(buffer.get());
    // Every queue is visited: the lists keep all matches in the spooler's
    // order.
    for (DWORD i = 0; i < returned; ++i) {
        const PRINTER_INFO_2W &info = queues[i];
        bool pooled = false;
        if (info.pPortName == nullptr || !portsNamed(info.pPortName, port, pooled))
            continue;
        // A connection to a print server's queue reports the server's port,
        // so a server's USB001 matches too; it can neither be shared here nor
        // reached through this computer's name.
        if ((info.Attributes & PRINTER_ATTRIBUTE_NETWORK) || (info.pServerName && info.pServerName[0] != L'\0'))
            continue;
        PrintQueueRecord record;
        if (!fillRecord(info, record))
            continue;
        (pooled ? lookup.pools : lookup.queues).push_back(record);
    }
    return true;
}

std::vector<PrintQueueRecord> findPrintQueues()
{
    PortQueues lookup;
    lookUpPrintQueues(upgradeState.portName, lookup);
    upgradeState.pooledQueues = lookup.pools;
    if (!lookup.queues.empty())
        upgradeState.selectedQueue = lookup.queues.back();
    return lookup.queues;
}

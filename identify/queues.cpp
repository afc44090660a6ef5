#include "identify/queues.h"

#include <winspool.h>
#include <strsafe.h>

#include <cwchar>
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

}  // namespace

std::vector<PrintQueueRecord> findPrintQueues()
{
    std::vector<PrintQueueRecord> found;

    DWORD needed = 0;
    DWORD returned = 0;
    if (!EnumPrintersW(enumFlags, nullptr, 2, nullptr, 0, &needed, &returned)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER)
            return found;
    }
    if (needed == 0)
        return found;

    // Fresh operator new storage is aligned for PRINTER_INFO_2W.
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer)
        return found;
    // One attempt only: queues added since the probe make this call fail,
    // and the caller reports that as a missing queue.
    DWORD size = needed;
    if (!EnumPrintersW(enumFlags, nullptr, 2, buffer.get(), size, &needed, &returned) || returned == 0)
        return found;
    if (returned > size / sizeof(PRINTER_INFO_2W))
        returned = size / sizeof(PRINTER_INFO_2W);

    const auto *queues = reinterpret_cast<const PRINTER_INFO_2W *>(buffer.get());
    // Every queue is visited: the list keeps all matches in the spooler's
    // order, and selectedQueue ends on the last one.
    for (DWORD i = 0; i < returned; ++i) {
        const PRINTER_INFO_2W &info = queues[i];
        if (info.pPortName == nullptr || std::wcsstr(info.pPortName, upgradeState.portName) == nullptr)
            continue;
        // A connection to a print server's queue reports the server's port,
        // so a server's USB001 matches too; it can neither be shared here nor
        // reached through this computer's name.
        if ((info.Attributes & PRINTER_ATTRIBUTE_NETWORK) || (info.pServerName && info.pServerName[0] != L'\0'))
            continue;
        PrintQueueRecord record;
        if (!fillRecord(info, record))
            continue;
        upgradeState.selectedQueue = record;
        found.push_back(record);
    }
    return found;
}

// The selected queue opened through the spooler, and the spooler's buffers:
// one owner and one release each, for the sharing and the print jobs alike.
#pragma once

#include "base/state.h"

#include <windows.h>
#include <winspool.h>

#include <memory>

struct PrinterCloser {
    void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

struct GlobalFreer {
    void operator()(void *memory) const { GlobalFree(memory); }
};
using GlobalBuffer = std::unique_ptr<void, GlobalFreer>;

// The selected queue, opened with the given rights; null, with the
// spooler's error as the last error, when it cannot be.
inline PrinterHandle openSelectedQueue(ACCESS_MASK access)
{
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
    HANDLE opened = nullptr;
    if (!OpenPrinterW(upgradeState.selectedQueue.printerName, &opened, &defaults))
        return nullptr;
    return PrinterHandle(opened);
}

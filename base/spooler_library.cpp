// The seven spooler calls the tool makes, defined here and forwarded to
// winspool.drv, loaded from the system folder on the first call: a
// delay-load by hand, since an import of winspool.drv would be looked for in
// the tool's folder first (see system_libraries.cpp). winspool.h declares
// these without dllimport, so the tool's calls bind to these definitions as
// they would to the import library. The unit tests link their own
// definitions of the same names, so this file never enters their programs.
#include "base/system_libraries.h"

#include <winspool.h>

namespace {

struct SpoolerEntries {
    decltype(&EnumPrintersW) enumPrinters;
    decltype(&OpenPrinterW) openPrinter;
    decltype(&GetPrinterW) getPrinter;
    decltype(&SetPrinterW) setPrinter;
    decltype(&ClosePrinter) closePrinter;
    decltype(&EnumJobsW) enumJobs;
    decltype(&SetJobW) setJob;
};

// Resolved once, on the first call, and kept with the library for the life
// of the process; a failure to load is kept too and repeated as every later
// call's last error.
SpoolerEntries spooler;
bool spoolerTried = false;
DWORD spoolerError = ERROR_SUCCESS;

// Null, with the last error set, when winspool.drv or one of the entries is
// missing: each call then fails as a spooler that refused it, and the
// callers report a missing queue or a queue they could not share.
const SpoolerEntries *loadSpooler()
{
    if (!spoolerTried) {
        spoolerTried = true;
        HMODULE module = loadSystemLibrary(L"winspool.drv");
        if (module == nullptr) {
            DWORD error = GetLastError();
            spoolerError = error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
        } else {
            spooler.enumPrinters = resolve<decltype(EnumPrintersW)>(module, "EnumPrintersW");
            spooler.openPrinter = resolve<decltype(OpenPrinterW)>(module, "OpenPrinterW");
            spooler.getPrinter = resolve<decltype(GetPrinterW)>(module, "GetPrinterW");
            spooler.setPrinter = resolve<decltype(SetPrinterW)>(module, "SetPrinterW");
            spooler.closePrinter = resolve<decltype(ClosePrinter)>(module, "ClosePrinter");
            spooler.enumJobs = resolve<decltype(EnumJobsW)>(module, "EnumJobsW");
            spooler.setJob = resolve<decltype(SetJobW)>(module, "SetJobW");
            if (!spooler.enumPrinters || !spooler.openPrinter || !spooler.getPrinter || !spooler.setPrinter ||
                !spooler.closePrinter || !spooler.enumJobs || !spooler.setJob)
                spoolerError = ERROR_PROC_NOT_FOUND;
        }
    }
    if (spoolerError != ERROR_SUCCESS) {
        SetLastError(spoolerError);
        return nullptr;
    }
    return &spooler;
}

}  // namespace

extern "C" BOOL WINAPI EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                                     LPDWORD needed, LPDWORD returned)
{
    const SpoolerEntries *entries = loadSpooler();
    return entries ? entries->enumPrinters(flags, name, level, buffer, bufferSize, needed, returned) : FALSE;
}

extern "C" BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults)
{
    const SpoolerEntries *entries = loadSpooler();
    return entries ? entries->openPrinter(name, printer, defaults) : FALSE;
}

extern "C" BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed)
{
    const SpoolerEntries *entries = loadSpooler();
    return entries ? entries->getPrinter(printer, level, buffer, bufferSize, needed) : FALSE;
}

extern "C" BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command)
{
    const SpoolerEntries *entries = loadSpooler();
    return entries ? entries->setPrinter(printer, level, buffer, command) : FALSE;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE printer)
{
    const SpoolerEntries *entries = loadSpooler();
    return entries ? entries->closePrinter(printer) : FALSE;
}

extern "C" BOOL WINAPI EnumJobsW(HANDLE printer, DWORD firstJob, DWORD jobCount, DWORD level, LPBYTE buffer,
                                 DWORD bufferSize, LPDWORD needed, LPDWORD returned)
{
    const SpoolerEntries *entries = loadSpooler();
    return entries ? entries->enumJobs(printer, firstJob, jobCount, level, buffer, bufferSize, needed, returned)
                   : FALSE;
}

extern "C" BOOL WINAPI SetJobW(HANDLE printer, DWORD job, DWORD level, LPBYTE info, DWORD command)
{
    const SpoolerEntries *entries = loadSpooler();
    return entries ? entries->setJob(printer, job, level, info, command) : FALSE;
}

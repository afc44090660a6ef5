// Sets up and inspects the print spooler of a scenario's Wine prefix through
// the real Windows API, the way a printer's installer would leave it.
//
//   e2e_spool computer                          print the computer name
//   e2e_spool driver                            install the test driver
//   e2e_spool add <queue> <port> <share> shared|unshared [offline]
//                                               offline: set to Use Printer
//                                               Offline, as Windows leaves a
//                                               queue whose printer was off
//   e2e_spool state <queue>                     print "shared" or "unshared"
//   e2e_spool list                              queue|port|share|state, in the
//                                               spooler's enumeration order
//   e2e_spool delete <queue>
//   e2e_spool hold <file>                       open the file without sharing
//                                               it, as a program still writing
//                                               it does, print "held", and keep
//                                               it open until ended
//   e2e_spool hold-lock <seconds>               hold the tool's one-upgrade
//                                               lock, print "held", and keep
//                                               it that long
//   e2e_spool share <queue>                     share the queue as it is
//   e2e_spool remove <file>                     delete the file; the exit
//                                               code is the error, 0 if gone
//
// Exit code 0 on success; on failure a message on stderr and exit code 1.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

// The queues of the scenarios all use this one driver; Wine's PostScript
// driver is the only one a fresh prefix can install without extra files.
const WCHAR TestDriverName[] = L"Simulated Large-Format Driver";

struct PrinterCloser {
    void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

// Names the step, the error number and what the system says it means, so a
// scenario's log tells why its set-up failed without a look at winerror.h.
int fail(const char *what, DWORD error)
{
    char meaning[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  meaning, sizeof(meaning), nullptr);
    while (length > 0 && (meaning[length - 1] == '\n' || meaning[length - 1] == '\r' || meaning[length - 1] == ' '))
        meaning[--length] = '\0';
    std::fprintf(stderr, "e2e_spool: %s failed with error %lu (%s)\n", what, error,
                 length > 0 ? meaning : "no text for this error");
    return 1;
}

// Prints UTF-16 text as UTF-8 so the bash side can compare it.
void printLine(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], size, nullptr, nullptr);
    std::printf("%s\n", narrow.c_str());
}

int printComputerName()
{
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = ARRAYSIZE(name);
    if (!GetComputerNameW(name, &size))
        return fail("GetComputerNameW", GetLastError());
    printLine(name);
    return 0;
}

int addDriver()
{
    WCHAR wineDriver[] = L"wineps.drv";
    std::wstring name = TestDriverName;
    DRIVER_INFO_3W info = {};
    info.cVersion = 3;
    info.pName = &name[0];
    // Wine reads all three paths without a null check.
    info.pDriverPath = wineDriver;
    info.pDataFile = wineDriver;
    info.pConfigFile = wineDriver;
    if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&info)))
        return fail("AddPrinterDriverW", GetLastError());
    return 0;
}

// Wine keeps PRINTER_ATTRIBUTE_WORK_OFFLINE when it comes through
// SetPrinterW level 2, as the queue window's Printer menu sets it.
int setOffline(HANDLE printer)
{
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed == 0)
        return fail("GetPrinterW", GetLastError());
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterW(printer, 2, buffer.data(), needed, &needed))
        return fail("GetPrinterW", GetLastError());
    reinterpret_cast<PRINTER_INFO_2W *>(buffer.data())->Attributes |= PRINTER_ATTRIBUTE_WORK_OFFLINE;
    if (!SetPrinterW(printer, 2, buffer.data(), 0))
        return fail("SetPrinterW", GetLastError());
    return 0;
}

int addQueue(const WCHAR *queue, const WCHAR *port, const WCHAR *share, const WCHAR *state, bool offline)
{
    std::wstring name = queue, portName = port, shareName = share;
    std::wstring driver = TestDriverName;
    WCHAR processor[] = L"WinPrint";
    WCHAR dataType[] = L"RAW";
    PRINTER_INFO_2W info = {};
    info.pPrinterName = &name[0];
    info.pPortName = &portName[0];
    info.pDriverName = &driver[0];
    info.pShareName = &shareName[0];
    info.pPrintProcessor = processor;
    info.pDatatype = dataType;
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    if (wcscmp(state, L"shared") == 0)
        info.Attributes |= PRINTER_ATTRIBUTE_SHARED;
    else if (wcscmp(state, L"unshared") != 0)
        return fail("the sharing argument (shared|unshared)", ERROR_INVALID_PARAMETER);
    PrinterHandle printer(AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
    if (!printer)
        return fail("AddPrinterW", GetLastError());
    return offline ? setOffline(printer.get()) : 0;
}

// Reads PRINTER_INFO_2W of a queue into a buffer that owns the strings.
bool readQueue(const WCHAR *queue, std::vector<BYTE> &buffer, DWORD &error)
{
    HANDLE raw = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(queue), &raw, nullptr)) {
        error = GetLastError();
        return false;
    }
    PrinterHandle printer(raw);
    DWORD needed = 0;
    GetPrinterW(raw, 2, nullptr, 0, &needed);
    if (needed == 0) {
        error = GetLastError();
        return false;
    }
    buffer.assign(needed, 0);
    if (!GetPrinterW(raw, 2, buffer.data(), needed, &needed)) {
        error = GetLastError();
        return false;
    }
    return true;
}

int printState(const WCHAR *queue)
{
    std::vector<BYTE> buffer;
    DWORD error = 0;
    if (!readQueue(queue, buffer, error))
        return fail("reading the queue", error);
    auto *info = reinterpret_cast<PRINTER_INFO_2W *>(buffer.data());
    printLine((info->Attributes & PRINTER_ATTRIBUTE_SHARED) ? L"shared" : L"unshared");
    return 0;
}

int listQueues()
{
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    DWORD needed = 0, count = 0;
    EnumPrintersW(flags, nullptr, 2, nullptr, 0, &needed, &count);
    if (needed == 0)
        return 0;
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersW(flags, nullptr, 2, buffer.data(), needed, &needed, &count))
        return fail("EnumPrintersW", GetLastError());
    auto *infos = reinterpret_cast<PRINTER_INFO_2W *>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        const PRINTER_INFO_2W &info = infos[i];
        std::wstring line = info.pPrinterName ? info.pPrinterName : L"";
        line += L"|";
        line += info.pPortName ? info.pPortName : L"";
        line += L"|";
        line += info.pShareName ? info.pShareName : L"";
        line += (info.Attributes & PRINTER_ATTRIBUTE_SHARED) ? L"|shared" : L"|unshared";
        printLine(line);
    }
    return 0;
}

int deleteQueue(const WCHAR *queue)
{
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE raw = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(queue), &raw, &access))
        return fail("OpenPrinterW", GetLastError());
    PrinterHandle printer(raw);
    if (!DeletePrinter(raw))
        return fail("DeletePrinter", GetLastError());
    return 0;
}

// Holds the tool's one-upgrade lock for a while, with no window of the
// tool's anywhere: what a second tool sees while another user's tool works
// in that user's session. Prints "held" once it holds it.
int holdLock(const wchar_t *seconds)
{
    HANDLE lock = CreateMutexW(nullptr, FALSE, L"Global\\TarnellVellumaxFirmwareUpgradeTool");
    if (!lock || GetLastError() == ERROR_ALREADY_EXISTS)
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(seconds)) * 1000);
    CloseHandle(lock);
    return 0;
}

int holdFile(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail("CreateFileW", GetLastError());
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

// Another user or program shares the queue, as it is, while the tool
// waits for the user's answer.
int shareQueue(const WCHAR *queue)
{
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE raw = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(queue), &raw, &access))
        return fail("OpenPrinterW", GetLastError());
    PrinterHandle printer(raw);
    std::vector<BYTE> buffer;
    DWORD error = 0;
    if (!readQueue(queue, buffer, error))
        return fail("reading the queue", error);
    auto *info = reinterpret_cast<PRINTER_INFO_2W *>(buffer.data());
    info->Attributes |= PRINTER_ATTRIBUTE_SHARED;
    if (!SetPrinterW(raw, 2, buffer.data(), 0))
        return fail("SetPrinterW", GetLastError());
    return 0;
}

// Another program deletes a file: the exit code is the error, 0 when it
// went.
int removeFile(const WCHAR *path)
{
    if (DeleteFileW(path))
        return 0;
    const DWORD error = GetLastError();
    fail("DeleteFileW", error);
    return static_cast<int>(error);
}

int usage()
{
    std::fprintf(stderr,
                 "usage: e2e_spool computer | driver | list | state <queue> | delete <queue> | hold <file>\n"
                 "       e2e_spool add <queue> <port> <share> shared|unshared [offline]\n"
                 "       e2e_spool hold-lock <seconds> | share <queue> | remove <file>\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2)
        return usage();
    std::wstring command = argv[1];
    if (command == L"computer" && argc == 2)
        return printComputerName();
    if (command == L"driver" && argc == 2)
        return addDriver();
    if (command == L"list" && argc == 2)
        return listQueues();
    if (command == L"add" && argc == 6)
        return addQueue(argv[2], argv[3], argv[4], argv[5], false);
    if (command == L"add" && argc == 7 && wcscmp(argv[6], L"offline") == 0)
        return addQueue(argv[2], argv[3], argv[4], argv[5], true);
    if (command == L"state" && argc == 3)
        return printState(argv[2]);
    if (command == L"delete" && argc == 3)
        return deleteQueue(argv[2]);
    if (command == L"hold-lock" && argc == 3)
        return holdLock(argv[2]);
    if (command == L"hold" && argc == 3)
        return holdFile(argv[2]);
    if (command == L"share" && argc == 3)
        return shareQueue(argv[2]);
    if (command == L"remove" && argc == 3)
        return removeFile(argv[2]);
    return usage();
}

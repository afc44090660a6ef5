// Sharing and copying against Wine's own spooler and command interpreter.

#include "base/state.h"
#include "base/text.h"
#include "delivery/copy.h"
#include "delivery/sharing.h"

#include <gtest/gtest.h>

#include <winspool.h>

#include <random>
#include <string>
#include <vector>

namespace {

WCHAR queueName[] = L"Vx Delivery Sharing Check";
WCHAR driverName[] = L"Vx Delivery Check Driver";
WCHAR postScriptDriver[] = L"wineps.drv";

struct QueueSettings {
    DWORD attributes = 0;
    std::wstring shareName, portName, driverName;
};

QueueSettings readQueue()
{
    QueueSettings settings;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(queueName, &printer, nullptr))
        return settings;
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed && GetPrinterW(printer, 2, buffer.data(), needed, &needed)) {
        auto *info = reinterpret_cast<PRINTER_INFO_2W *>(buffer.data());
        settings = {info->Attributes, info->pShareName ? info->pShareName : L"",
                    info->pPortName ? info->pPortName : L"", info->pDriverName ? info->pDriverName : L""};
    }
    ClosePrinter(printer);
    return settings;
}

// Removes the queue whatever the test's assertions found.
struct QueueRemover {
    ~QueueRemover()
    {
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        HANDLE printer = nullptr;
        if (OpenPrinterW(queueName, &printer, &defaults)) {
            DeletePrinter(printer);
            ClosePrinter(printer);
        }
    }
};

TEST(RealSpooler, SharingAndRestoringChangeOnlyTheSharedAttribute)
{
    DRIVER_INFO_3W driver = {};
    driver.cVersion = 3;
    driver.pName = driverName;
    driver.pDriverPath = driver.pDataFile = driver.pConfigFile = postScriptDriver;
    ASSERT_TRUE(AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE *>(&driver))) << GetLastError();

    // FILE: rather than a USB port, so that a queue left behind by a crash
    // cannot be found by the tests that look up the printer's queue.
    WCHAR share[] = L"VxDeliveryShare", port[] = L"FILE:", processor[] = L"WinPrint", datatype[] = L"RAW";
    PRINTER_INFO_2W info = {};
    info.pPrinterName = queueName;
    info.pShareName = share;
    info.pPortName = port;
    info.pDriverName = driverName;
    info.pPrintProcessor = processor;
    info.pDatatype = datatype;
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    QueueRemover remover;
    HANDLE added = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE *>(&info));
    ASSERT_NE(added, nullptr) << GetLastError();
    ClosePrinter(added);

    upgradeState = UpgradeState{};
    ASSERT_TRUE(copyText(upgradeState.selectedQueue.printerName, queueName));
    ASSERT_EQ(shareQueue(), 1);
    QueueSettings shared = readQueue();
    EXPECT_EQ(shared.attributes, DWORD(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED));
    EXPECT_EQ(upgradeState.sharedByTool, 1);

    restoreSharing();
    QueueSettings restored = readQueue();
    EXPECT_EQ(restored.attributes, DWORD(PRINTER_ATTRIBUTE_LOCAL));
    EXPECT_EQ(upgradeState.sharedByTool, 0);
    for (const QueueSettings &settings : {shared, restored}) {
        EXPECT_EQ(settings.shareName, share);
        EXPECT_EQ(settings.portName, port);
        EXPECT_EQ(settings.driverName, driverName);
    }
}

// A current directory for the firmware, and a share of this "computer"
// mapped inside the Wine prefix: Wine serves \\HOST\SHARE from
// $WINEPREFIX/dosdevices/unc/HOST/SHARE, which is reachable as Z:<path>.
class RealInterpreter : public ::testing::Test {
protected:
    static constexpr const wchar_t *Host = L"VXDELIVERYHOST";
    // Blanks and the interpreter's metacharacters only survive if the
    // destination is quoted.
    static constexpr const wchar_t *Share = L"Vx & Share ^(1)";

    void SetUp() override
    {
        WCHAR temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        folder = std::wstring(temp) + L"vx-real-copy-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previousFolder), 0u);
        ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));

        WCHAR prefix[MAX_PATH] = L"";
        DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
        ASSERT_TRUE(length > 0 && length < MAX_PATH) << "WINEPREFIX must name the prefix the test runs in";
        std::wstring unc = L"Z:" + std::wstring(prefix) + L"/dosdevices/unc";
        for (WCHAR &c : unc)
            if (c == L'/')
                c = L'\\';
        hostFolder = unc + L"\\" + Host;
        CreateDirectoryW(unc.c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryW(hostFolder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        arrived = hostFolder + L"\\" + Share;
        DeleteFileW(arrived.c_str());

        upgradeState = UpgradeState{};
        ASSERT_TRUE(copyText(upgradeState.computerName, Host));
    }

    void TearDown() override
    {
        SetCurrentDirectoryW(previousFolder);
        DeleteFileW((folder + L"\\VX350_A.05.01.fmw").c_str());
        // The interpreter's process may hold the folder as its current
        // directory for a moment after its handle was signalled.
        for (int attempt = 0; attempt < 40 && !RemoveDirectoryW(folder.c_str()); ++attempt)
            Sleep(50);
        DeleteFileW(arrived.c_str());
        RemoveDirectoryW(hostFolder.c_str());
    }

    static std::vector<char> readAll(const std::wstring &path)
    {
        std::vector<char> bytes;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return bytes;
        bytes.resize(GetFileSize(file, nullptr));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
            bytes.clear();
        bytes.resize(read);
        CloseHandle(file);
        return bytes;
    }

    std::wstring folder, hostFolder, arrived;
    WCHAR previousFolder[MAX_PATH] = L"";
};

TEST_F(RealInterpreter, TheFirmwareArrivesOnTheShareByteForByte)
{
    std::vector<char> firmware(3 * 1024 * 1024 + 17);
    std::mt19937 random(350);
    for (char &byte : firmware)
        byte = static_cast<char>(random());
    HANDLE file = CreateFileW(L"VX350_A.05.01.fmw", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, firmware.data(), static_cast<DWORD>(firmware.size()), &written, nullptr));
    CloseHandle(file);

    WCHAR commandLine[nameCapacity];
    ASSERT_TRUE(buildCopyCommandLine(commandLine, L"VX350_A.05.01.fmw", Share));
    const CopyResult copy = runCopy(commandLine);
    EXPECT_EQ(copy.end, CopyResult::Sent);
    EXPECT_EQ(upgradeState.copyUnfinished, 0);
    std::vector<char> received = readAll(arrived);
    EXPECT_EQ(received.size(), firmware.size());
    EXPECT_TRUE(received == firmware);
}

// COPY's failure shows only in its exit code. Wine's spooler cannot list a
// queue's jobs (here the queue does not even exist), so what such a copy
// left cannot be told: it is reported as such, never as nothing left.
TEST_F(RealInterpreter, ACopyOfAMissingFileIsReportedWithTheInterpretersExitCode)
{
    ASSERT_TRUE(copyText(upgradeState.selectedQueue.printerName, L"Vellumax 350"));
    WCHAR commandLine[nameCapacity];
    ASSERT_TRUE(buildCopyCommandLine(commandLine, L"VX350_A.05.01.fmw", Share));
    const CopyResult copy = runCopy(commandLine);
    ASSERT_EQ(copy.end, CopyResult::Failed);
    EXPECT_EQ(copy.error, 0u);
    EXPECT_NE(copy.exitCode, 0u);
    EXPECT_EQ(removeUnfinishedCopysJob().result, JobRemoval::Unlisted);
    EXPECT_EQ(upgradeState.copyUnfinished, 0);
}

}  // namespace

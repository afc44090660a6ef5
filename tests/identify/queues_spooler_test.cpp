// The queue lookup against Wine's real spooler, which a double could agree
// with on a wrong assumption (field order, flags, the size probe).
#include "identify/queues.h"

#include <gtest/gtest.h>
#include <winspool.h>
#include <strsafe.h>

namespace {

const wchar_t DriverName[] = L"Identify Lookup Test Driver";
const wchar_t PrinterA[] = L"Identify Lookup Test Queue A";
const wchar_t PrinterB[] = L"Identify Lookup Test Queue B";

void deletePrinter(const wchar_t *name)
{
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, &access))
        return;
    DeletePrinter(printer);
    ClosePrinter(printer);
}

bool addPrinter(const wchar_t *name, const wchar_t *port, const wchar_t *share, DWORD attributes)
{
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<LPWSTR>(name);
    info.pPortName = const_cast<LPWSTR>(port);
    info.pDriverName = const_cast<LPWSTR>(DriverName);
    info.pShareName = const_cast<LPWSTR>(share);
    info.pPrintProcessor = const_cast<LPWSTR>(L"WinPrint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL | attributes;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr)
        return false;
    ClosePrinter(printer);
    return true;
}

class RealSpooler : public ::testing::Test {
protected:
    void SetUp() override
    {
        upgradeState = UpgradeState{};
        // Left behind by an earlier run that was killed.
        deletePrinter(PrinterA);
        deletePrinter(PrinterB);

        DRIVER_INFO_3W driver = {};
        driver.cVersion = 3;
        driver.pName = const_cast<LPWSTR>(DriverName);
        driver.pDriverPath = const_cast<LPWSTR>(L"wineps.drv");
        driver.pDataFile = const_cast<LPWSTR>(L"wineps.drv");
        driver.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
        ASSERT_TRUE(AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver))) << GetLastError();
        ASSERT_TRUE(addPrinter(PrinterA, L"USB001", L"IDLOOKUPA", PRINTER_ATTRIBUTE_SHARED)) << GetLastError();
        ASSERT_TRUE(addPrinter(PrinterB, L"USB002", L"IDLOOKUPB", 0)) << GetLastError();
    }

    // Runs after a failed assertion too.
    void TearDown() override
    {
        deletePrinter(PrinterA);
        deletePrinter(PrinterB);
    }
};

TEST_F(RealSpooler, FindsTheInstalledQueueOnThePrintersPort)
{
    std::vector<PrintQueueRecord> found = findPrintQueues();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_STREQ(found[0].printerName, PrinterA);
    EXPECT_STREQ(found[0].driverName, DriverName);
    EXPECT_STREQ(found[0].portName, L"USB001");
    EXPECT_STREQ(found[0].shareName, L"IDLOOKUPA");
    EXPECT_NE(found[0].isShared, 0);
    EXPECT_STREQ(upgradeState.selectedQueue.printerName, PrinterA);

    StringCchCopyW(upgradeState.portName, nameCapacity, L"USB002");
    found = findPrintQueues();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_STREQ(found[0].printerName, PrinterB);
    EXPECT_EQ(found[0].isShared, 0);
}

}  // namespace

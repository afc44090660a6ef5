// Device discovery against the stand-in library, loaded for real from beside
// this program and fed through its device file.
#include "identify/catalogue.h"
#include "identify/device_list.h"
#include "identify/discovery.h"
#include "tests/doubles/fresh_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Discovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        startFreshRun();
        DeleteFileW(devicesFile.c_str());
    }

    void TearDown() override { DeleteFileW(devicesFile.c_str()); }

    void describeDevices(const std::string &text)
    {
        HANDLE file = CreateFileW(devicesFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
        CloseHandle(file);
    }

    const std::wstring devicesFile = besideTestProgram(L"vxprobe.txt");
};

struct DeviceScene {
    const char *name;
    const char *devices;  // the device file; null for none
    int result;
    const WCHAR *portName;
    FirmwareKind firmwareKind;
    // The printers found, "<model>@<port>=<kind>", separated by ";".
    const WCHAR *printers;
};

void PrintTo(const DeviceScene &scene, std::ostream *out)
{
    *out << scene.name;
}

std::wstring foundPrinters()
{
    std::wstring list;
    for (const FoundPrinter &printer : upgradeState.foundPrinters) {
        list += (list.empty() ? L"" : L";") + std::wstring(printer.model) + L"@" + printer.portName + L"=" +
                std::to_wstring(printer.firmwareKind);
    }
    return list;
}

class DiscoveryScenes : public Discovery, public ::testing::WithParamInterface<DeviceScene> {};

TEST_P(DiscoveryScenes, LeaveThePortAndFirmwareKindOfTheLastPrinterWithAPort)
{
    const DeviceScene &scene = GetParam();
    if (scene.devices)
        describeDevices(scene.devices);

    EXPECT_EQ(detectPrinter(), scene.result);
    EXPECT_STREQ(upgradeState.portName, scene.portName);
    EXPECT_EQ(upgradeState.firmwareKind, scene.firmwareKind);
    EXPECT_EQ(foundPrinters(), scene.printers);
    // Each call loads the library and lets it go again.
    EXPECT_EQ(GetModuleHandleW(L"vxprobe.dll"), nullptr);
}

const DeviceScene scenes[] = {
    {"NoDeviceFile", nullptr, 0, L"USB001", FirmwareNone, L""},
    {"EmptyDeviceFile", "", 0, L"USB001", FirmwareNone, L""},
    {"OnePrinter", "device\nrecord Tarnell Vellumax 350\nport USB002\n", 1, L"USB002", FirmwareStandard,
     L"Tarnell Vellumax 350@USB002=1"},
    {"TwoPrintersLastWins",
     "device\nrecord Vellumax 650\nport USB001\ndevice\nrecord Tarnell Vellumax 350 plus\nport USB002\n", 1,
     L"USB002", FirmwarePlotLanguage, L"Vellumax 650@USB001=3;Tarnell Vellumax 350 plus@USB002=2"},
    // A printer the library sees without its port says nothing about the
    // printer on the port: its kind must not go with that port's queue.
    {"PrinterWithoutPort", "device\nrecord Vellumax 650\nattr 3 USB009\n", 0, L"USB001", FirmwareNone, L""},
    {"PortlessLater350KeepsThe650sKind", "device\nrecord Vellumax 650\nport USB001\ndevice\nrecord Tarnell Vellumax 350\n",
     1, L"USB001", FirmwareDiskStaged, L"Vellumax 650@USB001=3"},
    {"PortlessLater650KeepsThe350sKind", "device\nrecord Tarnell Vellumax 350\nport USB004\ndevice\nrecord Vellumax 650\n",
     1, L"USB004", FirmwareStandard, L"Tarnell Vellumax 350@USB004=1"},
    {"SamePortCountedOnceAsItsLastRecord",
     "device\nrecord Tarnell Vellumax 350\nport USB001\ndevice\nrecord Tarnell Vellumax 350ps\nport usb001\n", 1, L"usb001",
     FirmwareStandard, L"Tarnell Vellumax 350ps@usb001=1"},
    // Two models needing different firmware on one port: the port stays
    // undecided, whatever its later records say.
    {"TwoModelsOnOnePortLeaveItsKindUndecided",
     "device\nrecord Tarnell Vellumax 350\nport USB001\ndevice\nrecord Vellumax 650\nport usb001\n"
     "record Tarnell Vellumax 350\nport USB001\ndevice\nrecord Vellumax 650\nport USB002\n",
     1, L"USB002", FirmwareDiskStaged, L"Tarnell Vellumax 350@USB001=0;Vellumax 650@USB002=3"},
    {"ZeroRecordDevicesSkipped",
     "device\nrecord Acme Laser 9\nport USB003\ndevice\ndevice\nrecord Vellumax 650\nport USB004\n", 1, L"USB004",
     FirmwareDiskStaged, L"Vellumax 650@USB004=3"},
    {"LastPortOfARecordWins", "record Tarnell Vellumax 350\nattr 10 USB005\nattr 9 USB006\nport USB007\nattr 3 X\n",
     1, L"USB007", FirmwareStandard, L"Tarnell Vellumax 350@USB007=1"},
    // An empty port would make the queue lookup select every queue.
    {"EmptyPortPassedOver", "device\nrecord Tarnell Vellumax 350\nport \n", 0, L"USB001", FirmwareNone, L""},
    {"EmptyPortKeepsEarlierPort", "device\nrecord Tarnell Vellumax 350\nport USB008\nattr 9 \n", 1, L"USB008",
     FirmwareStandard, L"Tarnell Vellumax 350@USB008=1"},
    {"FailingLibrary", "device\nrecord Tarnell Vellumax 350\nport USB002\nfail 5\n", 0, L"USB001", FirmwareNone, L""},
    {"UnreadableDeviceFile", "device\nrecord Tarnell Vellumax 350\nport USB002\nbogus\n", 0, L"USB001",
     FirmwareNone, L""},
    {"AttributeBeforeAnyRecord", "device\nport USB002\nrecord Tarnell Vellumax 350\n", 0, L"USB001", FirmwareNone,
     L""},
    {"WindowsLineEndsCommentsAndIndents",
     "# a printer\r\n\r\n  device\r\n\trecord Tarnell Vellumax 350\r\n   port USB007\r\n", 1, L"USB007",
     FirmwareStandard, L"Tarnell Vellumax 350@USB007=1"},
};

INSTANTIATE_TEST_SUITE_P(Devices, DiscoveryScenes, ::testing::ValuesIn(scenes),
                         [](const ::testing::TestParamInfo<DeviceScene> &info) { return info.param.name; });

// portName holds 255 characters; a longer port must neither overflow it nor
// be taken shortened, which would select another queue.
TEST_F(Discovery, PortsUpToTheCapacityAreTakenLongerOnesPassedOver)
{
    const std::string port255(255, 'P');
    describeDevices("record Tarnell Vellumax 350\nport " + port255 + "\n");
    EXPECT_EQ(detectPrinter(), 1);
    EXPECT_EQ(std::wstring(upgradeState.portName), std::wstring(255, L'P'));

    upgradeState = UpgradeState{};
    describeDevices("record Tarnell Vellumax 350\nport " + port255 + "Q\n");
    EXPECT_EQ(detectPrinter(), 0);
    EXPECT_STREQ(upgradeState.portName, L"USB001");

    // The model is only shown: one too long is kept in part, and said so.
    upgradeState = UpgradeState{};
    describeDevices("record Tarnell Vellumax 350 " + std::string(300, 'M') + "\nport USB002\n");
    EXPECT_EQ(detectPrinter(), 1);
    ASSERT_EQ(upgradeState.foundPrinters.size(), 1u);
    EXPECT_EQ(std::wstring(upgradeState.foundPrinters[0].model), L"Tarnell Vellumax 350 " + std::wstring(234, L'M'));
    EXPECT_TRUE(upgradeState.foundPrinters[0].modelCut);
}

// The tool searches again after a failed attempt; the next attempt must see
// the printer that has been attached meanwhile.
TEST_F(Discovery, ASecondSearchSeesTheDevicesAttachedSinceTheFirst)
{
    EXPECT_EQ(detectPrinter(), 0);
    describeDevices("device\nrecord Vellumax 650PS\nport USB003\n");
    EXPECT_EQ(detectPrinter(), 1);
    EXPECT_STREQ(upgradeState.portName, L"USB003");
    EXPECT_EQ(GetModuleHandleW(L"vxprobe.dll"), nullptr);
}

// The stand-in asked directly, so that a fault in it does not hide behind
// the matching rule: blanks and bytes kept, devices without records kept.
TEST_F(Discovery, TheStandInHandsOutTheDevicesExactlyAsWritten)
{
    describeDevices(
        "record  two blanks\n"
        "attr 4294967295 a value with  blanks \n"
        "device\n"
        "device\n"
        "record\n"
        "port\n"
        "record \xE9t\xE9\n");
    HMODULE module = LoadLibraryW(besideTestProgram(L"vxprobe.dll").c_str());
    ASSERT_NE(module, nullptr);
    auto *getDevices = reinterpret_cast<GetDevicesFunction *>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(module, getDevicesName)));
    auto *releaseDevices = reinterpret_cast<ReleaseDevicesFunction *>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(module, releaseDevicesName)));
    DeviceList list = {};
    if (getDevices && releaseDevices && getDevices(&list, 0, 4) == 0 && list.deviceCount == 3) {
        const DeviceEntry &first = list.devices[0];
        EXPECT_EQ(first.recordCount, 1u);
        EXPECT_STREQ(first.records[0].model, " two blanks");
        EXPECT_EQ(first.records[0].attributeCount, 1u);
        EXPECT_EQ(first.records[0].attributes[0].type, 4294967295u);
        EXPECT_STREQ(first.records[0].attributes[0].value, "a value with  blanks ");
        EXPECT_EQ(list.devices[1].recordCount, 0u);
        const DeviceEntry &third = list.devices[2];
        EXPECT_EQ(third.recordCount, 2u);
        EXPECT_STREQ(third.records[0].model, "");
        EXPECT_EQ(third.records[0].attributes[0].type, portNameAttribute);
        EXPECT_STREQ(third.records[0].attributes[0].value, "");
        EXPECT_STREQ(third.records[1].model, "\xE9t\xE9");
        EXPECT_EQ(third.records[1].attributeCount, 0u);
        releaseDevices(&list);
        EXPECT_EQ(list.devices, nullptr);
    } else {
        ADD_FAILURE() << "the stand-in did not hand out the three devices";
    }
    FreeLibrary(module);
}

}  // namespace

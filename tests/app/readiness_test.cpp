// The checks before the confirmation: the firmware files and the share name.
#include "tests/app/transfer_fixture.h"

namespace {

TEST_F(FirmwareTransfer, AMissingFirmwareFileCancelsBeforeAnythingIsSharedOrSent)
{
    struct Case {
        FirmwareKind kind;
        const wchar_t *missing;
        bool asFolder;
    };
    const Case cases[] = {
        {FirmwareStandard, Base, false},
        {FirmwarePlotLanguage, Plot350, false},
        {FirmwareDiskStaged, PostScript, false},  // needed only after the reboot
        {FirmwareDiskStaged, Base, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind);
        resetRun(c.kind);
        // An unusable share name too: the missing file is reported first.
        ASSERT_TRUE(copyText(upgradeState.targetShareName, L"Vx%Target"));
        DeleteFileW(c.missing);
        if (c.asFolder) {
            ASSERT_TRUE(CreateDirectoryW(c.missing, nullptr));
        }
        EXPECT_FALSE(upgradeCanStart());
        expectRefusedWith(L"Firmware file " + std::wstring(c.missing) +
                          L" was not found in the tool's folder.\nFirmware upgrade cancelled.");
        EXPECT_EQ(windowText(status), L"Before");
        RemoveDirectoryW(c.missing);
        writeFile(c.missing);
    }

    // Files of other kinds are not needed.
    resetRun(FirmwareStandard);
    for (const wchar_t *name : {Plot355, Plot350, Disk, PostScript})
        DeleteFileW(name);
    EXPECT_TRUE(upgradeCanStart());
}

TEST_F(FirmwareTransfer, WhatWouldStopTheUpgradeIsFoundBeforeAnythingIsSharedOrSent)
{
    struct Case {
        const char *why;
        FirmwareKind kind;
        std::function<void()> arrange;
        std::wstring text;
    };
    const wchar_t cancelled[] = L"\nFirmware upgrade cancelled.";
    const Case cases[] = {
        {"an empty file of the second stage", FirmwareDiskStaged, [] { writeFile(PostScript, ""); },
         L"Firmware file VX650PS_A.04.02.fmw is empty." + std::wstring(cancelled)},
        {"an unshared queue without a share name", FirmwareStandard,
         [] { upgradeState.targetShareName[0] = L'\0'; },
         L"The printer Vellumax 650 has no share name.\nGive it a share name in the printer's properties (Sharing), "
         L"then start the upgrade again." +
             std::wstring(cancelled)},
        // COPY could not open it once the queue is shared: a download still
        // being written, say. A 650's last file is checked too.
        {"a file another program holds open", FirmwareDiskStaged,
         [] {
             heldFile = CreateFileW(Base, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
         },
         L"Firmware file VX350_A.05.01.fmw is open in another program, so it cannot be sent.\nClose that program, "
         L"or wait until the download of the file has finished, then start the upgrade again." +
             std::wstring(cancelled)},
        {"a network folder, which the interpreter cannot start in", FirmwareStandard,
         [] { fakeWorld.currentDirectory = L"\\\\FILES\\Downloads\\Firmware"; },
         L"The firmware files cannot be sent from this folder:\n\\\\FILES\\Downloads\\Firmware\nCopy the tool and "
         L"the firmware files to a folder on this computer's own disk and start the tool from there." +
             std::wstring(cancelled)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        resetRun(c.kind);
        c.arrange();
        EXPECT_FALSE(upgradeCanStart());
        expectRefusedWith(c.text);
        if (heldFile != INVALID_HANDLE_VALUE)
            CloseHandle(heldFile);
        heldFile = INVALID_HANDLE_VALUE;
        writeFile(PostScript);
    }

    // A folder on a drive letter is fine, even a mapped network drive.
    resetRun(FirmwareStandard);
    fakeWorld.currentDirectory = L"Z:\\Firmware";
    EXPECT_TRUE(upgradeCanStart());
}

TEST_F(FirmwareTransfer, AShareNameTheInterpreterCouldMisreadIsRefusedBeforeSharing)
{
    struct Case {
        const char *why;
        FirmwareKind kind;
        const wchar_t *computer;
        bool queueShared;
        std::wstring selected, target;
        bool refused;
    };
    const std::wstring fine = L"Vx Share";
    const std::wstring special = L"Vx & Co ^|<> (1)";
    const Case cases[] = {
        {"percent", FirmwareStandard, L"VXHOST", false, fine, L"Vx%PATH%", true},
        {"exclamation mark", FirmwareStandard, L"VXHOST", false, fine, L"Vx!Share", true},
        {"double quote", FirmwareStandard, L"VXHOST", false, fine, L"Vx\" & calc", true},
        {"blanks and metacharacters stay quoted", FirmwareStandard, L"VXHOST", false, fine, special, false},
        {"shared queue copies to its own name", FirmwareStandard, L"VXHOST", true, L"100%", fine, true},
        {"shared queue ignores the target name", FirmwareStandard, L"VXHOST", true, fine, L"100%", false},
        {"longest for the warning text", FirmwareStandard, L"VXHOST", false, fine, std::wstring(191, L's'), false},
        {"too long for the warning text", FirmwareStandard, L"VXHOST", false, fine, std::wstring(192, L's'), true},
        {"longest for a command line", FirmwarePlotLanguage, L"VXHOST456789012", true, std::wstring(201, L's'), fine,
         false},
        {"too long for a command line", FirmwarePlotLanguage, L"VXHOST456789012", true, std::wstring(202, L's'), fine,
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        resetRun(c.kind);
        ASSERT_TRUE(copyText(upgradeState.computerName, c.computer));
        upgradeState.selectedQueue.isShared = c.queueShared;
        ASSERT_TRUE(copyText(upgradeState.selectedQueue.shareName, c.selected.c_str()));
        ASSERT_TRUE(copyText(upgradeState.targetShareName, c.target.c_str()));
        const std::wstring &used = c.queueShared ? c.selected : c.target;

        EXPECT_EQ(upgradeCanStart(), !c.refused);
        if (c.refused) {
            expectRefusedWith(L"The share name " + used +
                              L" of the printer cannot be used to copy firmware.\nFirmware upgrade cancelled.");
        } else {
            EXPECT_EQ(runFirstStage(), StageSent);
            ASSERT_FALSE(fakeWorld.started.empty());
            std::wstring destination = L"\"\\\\" + std::wstring(c.computer) + L"\\" + used + L"\"";
            EXPECT_EQ(commandLines().back(), L"/C COPY /B " + std::wstring(Base) + L" " + destination);
        }
    }
}

}  // namespace

// The transfer stages: sharing, the copies in order, the files held, a failed copy.
#include "tests/app/transfer_fixture.h"

namespace {

TEST_F(FirmwareTransfer, EachKindSendsItsFilesInOrderThroughAHiddenInterpreter)
{
    struct Case {
        FirmwareKind kind;
        bool secondStage;
        std::vector<std::wstring> files;
    };
    const Case cases[] = {
        {FirmwareNone, false, {Base}},
        {FirmwareStandard, false, {Base}},
        {FirmwarePlotLanguage, false, {Plot355, Plot350, Base}},
        {FirmwareDiskStaged, false, {Disk}},
        {FirmwareDiskStaged, true, {PostScript, Base}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << (c.secondStage ? ", second stage" : ""));
        resetRun(c.kind);
        upgradeState.selectedQueue.isShared = 1;
        EXPECT_EQ(c.secondStage ? runSecondStage() : runFirstStage(), StageSent);

        std::vector<std::wstring> expected;
        for (const std::wstring &file : c.files)
            expected.push_back(copyOf(file, L"Vx Selected"));
        EXPECT_EQ(commandLines(), expected);
        for (const StartedProcess &process : fakeWorld.started) {
            EXPECT_EQ(process.file, interpreter());
            EXPECT_EQ(process.mask, ULONG(SEE_MASK_NOCLOSEPROCESS));
            EXPECT_EQ(process.show, SW_HIDE);
            EXPECT_EQ(process.window, nullptr);
            EXPECT_EQ(process.verb, L"(null)");
            EXPECT_EQ(process.directory, L"(null)");
        }
        EXPECT_EQ(fakeWorld.liveProcessHandles, 0);
        EXPECT_TRUE(fakeWorld.boxes.empty());
        // A queue shared before the run is neither shared nor unshared.
        EXPECT_TRUE(fakeWorld.writes.empty());
    }
}

// The queue is shared before the first copy and stays shared: whether the

// sharing goes back now or after the reboot is the caller's to decide.

// The files confirmed are the files sent: from the checks on, another

// program may read them (as COPY does) but not write or delete them, each

// until its own copy has ended; a 650's later files stay held across the

// reboot wait.

TEST_F(FirmwareTransfer, EachFirmwareFileIsHeldAgainstChangesUntilItsCopyHasEnded)
{
    resetRun(FirmwareDiskStaged);
    auto heldAgainstWriters = [](const wchar_t *file) {
        HANDLE writer = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (writer != INVALID_HANDLE_VALUE) {
            CloseHandle(writer);
            return false;
        }
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION)) << file;
        EXPECT_FALSE(DeleteFileW(file)) << file;
        HANDLE reader = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "COPY could not read " << file;
        CloseHandle(reader);
        return true;
    };
    ASSERT_TRUE(upgradeCanStart());
    for (const wchar_t *file : {Disk, PostScript, Base})
        EXPECT_TRUE(heldAgainstWriters(file)) << file;

    EXPECT_EQ(runFirstStage(), StageSent);
    EXPECT_FALSE(heldAgainstWriters(Disk));
    EXPECT_TRUE(heldAgainstWriters(PostScript));
    EXPECT_TRUE(heldAgainstWriters(Base));

    releaseFirmwareFiles();
    for (const wchar_t *file : {PostScript, Base})
        EXPECT_FALSE(heldAgainstWriters(file)) << file;
}

TEST_F(FirmwareTransfer, AStageSharesTheQueueBeforeItsFirstCopyAndLeavesItShared)
{
    EXPECT_EQ(runFirstStage(), StageSent);
    EXPECT_EQ(commandLines(), std::vector<std::wstring>{copyOf(Base, L"Vx Target")});
    ASSERT_EQ(fakeWorld.writes.size(), 1u);
    EXPECT_LT(indexOf(L"SetPrinter 0x48"), indexOf(L"ShellExecuteEx"));
    EXPECT_EQ(upgradeState.sharedByTool, 1);
    EXPECT_EQ(windowText(status), CopyingText);

    // A disk-staged upgrade is finished only by its second stage.
    resetRun(FirmwareDiskStaged);
    upgradeState.upgradeFinished = 1;
    EXPECT_EQ(runFirstStage(), StageSent);
    EXPECT_EQ(windowText(status), DiskText);
    EXPECT_EQ(upgradeState.upgradeFinished, 0);
    EXPECT_EQ(runSecondStage(), StageSent);
    EXPECT_EQ(fakeWorld.writes.size(), 1u);
    EXPECT_EQ(upgradeState.upgradeFinished, 1);
}

TEST_F(FirmwareTransfer, RefusedSharingShowsOneWarningAndSendsNothing)
{
    fakeWorld.openFails = true;
    EXPECT_EQ(runFirstStage(), StageRefused);
    ASSERT_EQ(fakeWorld.boxes.size(), 1u);
    EXPECT_EQ(fakeWorld.boxes[0].text, L"In order to continue with upgrade, the printer <Vx Target> must be shared");
    EXPECT_EQ(fakeWorld.boxes[0].caption, L"Information");
    EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_ICONWARNING));
    EXPECT_EQ(fakeWorld.boxes[0].owner, upgradeState.mainDialog);
    EXPECT_TRUE(fakeWorld.started.empty());
    EXPECT_EQ(windowText(status), L"Before");
    EXPECT_TRUE(IsWindow(dialog));
}

// A copy that fails after its interpreter started may have left part of

// the file in the queue: the interpreter is ended if it still runs, and its

// own job (not the colleague's that arrived too) is deleted before the box,

// which says so, and before anything waits for the queue to empty.

TEST_F(FirmwareTransfer, AFailedCopyStopsTheStageAndShowsItsErrorNumber)
{
    struct Case {
        const char *failure;
        void (*arrange)(ProcessScript &);
        std::wstring number;
        bool started;
        bool stillRunning;
    };
    const Case cases[] = {
        {"start fails",
         [](ProcessScript &p) {
             p.startFails = true;
             p.startError = ERROR_ACCESS_DENIED;
         },
         L"5", false, false},
        {"wait fails",
         [](ProcessScript &p) {
             p.waitResult = WAIT_FAILED;
             p.waitError = ERROR_NO_SYSTEM_RESOURCES;
         },
         L"1450", true, true},
        {"COPY fails inside the interpreter", [](ProcessScript &p) { p.exitCode = 1; }, L"1", true, false},
        {"exit code unreadable",
         [](ProcessScript &p) {
             p.exitCodeFails = true;
             p.exitCodeError = ERROR_GEN_FAILURE;
         },
         L"31", true, false},
    };
    const std::wstring deleted =
        L" Its unfinished document (job 6) was deleted from the print queue Vellumax 650; no other document was "
        L"touched.";

    for (const Case &c : cases) {
        for (bool secondStage : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.failure << (secondStage ? " in the second stage" : ""));
            resetRun(secondStage ? FirmwareDiskStaged : FirmwarePlotLanguage);
            fakeWorld.queues[0].jobIds = {5};
            fakeWorld.queues[0].jobUsers[7] = L"colleague";
            ProcessScript script;
            c.arrange(script);
            script.onRun = [] {
                fakeWorld.queues[0].jobIds.push_back(6);
                fakeWorld.queues[0].jobIds.push_back(7);
            };
            fakeWorld.processScripts.push_back(script);

            EXPECT_EQ(secondStage ? runSecondStage() : runFirstStage(), StageFailed);

            EXPECT_EQ(fakeWorld.started.size(), 1u);
            ASSERT_EQ(fakeWorld.boxes.size(), 1u);
            EXPECT_EQ(fakeWorld.boxes[0].text, L"Error " + c.number + L" copying Firmware files to printer!" +
                                                   (c.started ? deleted : L"") + L"\nFirmware upgrade cancelled.");
            EXPECT_EQ(fakeWorld.boxes[0].caption, L"Firmware Upgrade Error");
            EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_ICONERROR));
            EXPECT_EQ(fakeWorld.boxes[0].owner, upgradeState.mainDialog);
            EXPECT_EQ(indexOf(L"Wait null"), fakeWorld.events.size());
            EXPECT_EQ(fakeWorld.terminatedProcesses, c.stillRunning ? 1 : 0);
            EXPECT_EQ(fakeWorld.deletedJobs, c.started ? std::vector<DWORD>{6} : std::vector<DWORD>{});
            if (c.started) {
                EXPECT_LT(indexOf(L"SetJob"), indexOf(L"MessageBox")) << "the box told before the job was deleted";
            }
            // Jobs listed after the start could be the copy's own.
            EXPECT_LT(indexOf(L"EnumJobs"), indexOf(L"ShellExecuteEx"));
            EXPECT_EQ(fakeWorld.liveProcessHandles, 0);
            EXPECT_EQ(upgradeState.upgradeFinished, 0);
        }
    }
}

// Each of these would only show once the queue had been shared, or not at

// all: an empty file goes out as an empty job and the run reports success.

}  // namespace

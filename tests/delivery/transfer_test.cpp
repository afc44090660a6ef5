#include "app/readiness.h"
#include "app/resources/resource.h"
#include "app/stages.h"
#include "base/state.h"
#include "base/text.h"
#include "delivery/copy.h"
#include "delivery/firmware_files.h"
#include "tests/doubles/fake_windows.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const wchar_t Base[] = L"VX350_A.05.01.fmw";
const wchar_t Plot355[] = L"VX355KPLOT_A.04.02.fmw";
const wchar_t Plot350[] = L"VX350KPLOT_A.04.02.fmw";
const wchar_t Disk[] = L"VX650DISK_A.04.02.fmw";
const wchar_t PostScript[] = L"VX650PS_A.04.02.fmw";
const wchar_t *const AllFirmware[] = {Base, Plot355, Plot350, Disk, PostScript};

const wchar_t CopyingText[] = L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.";
const wchar_t DiskText[] =
    L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.\n"
    L"Please wait while printer is upgrading disk file.";

std::wstring windowText(HWND window)
{
    WCHAR text[512] = L"";
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

// Where the interpreter must come from: never found by its bare name.
std::wstring interpreter()
{
    WCHAR folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\cmd.exe";
}


// A firmware file that "another program" holds open, without sharing it.
HANDLE heldFile = INVALID_HANDLE_VALUE;

// The checks before the confirmation, as the run makes them.
bool upgradeCanStart()
{
    return upgradeCanStart(holdFirmwareFiles(upgradeState.firmwareKind));
}

size_t indexOf(const std::wstring &prefix)
{
    auto &events = fakeWorld.events;
    return std::find_if(events.begin(), events.end(),
                        [&](const std::wstring &line) { return line.rfind(prefix, 0) == 0; }) -
           events.begin();
}

// A temporary current directory holding every firmware file, a stand-in for
// the main dialog with its status text, and a queue on a
// scripted spooler that is not shared yet.
class FirmwareTransfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        folder = std::wstring(temp) + L"vx-transfer-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previousFolder), 0u);
        ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
        for (const wchar_t *name : AllFirmware)
            writeFile(name);
        createDialog();
        resetRun(FirmwareStandard);
    }

    // A stand-in for the main dialog, with the status text the stages set.
    void createDialog()
    {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        dialog = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                                 instance, nullptr);
        ASSERT_NE(dialog, nullptr);
        auto child = [&](const wchar_t *cls, const wchar_t *text, DWORD style, int id) {
            return CreateWindowExW(0, cls, text, WS_CHILD | style, 0, 0, 100, 20, dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        };
        status = child(L"STATIC", L"Before", WS_VISIBLE, IDC_STATUS_TEXT);
        ASSERT_NE(status, nullptr);
    }

    void TearDown() override
    {
        releaseFirmwareFiles();
        if (IsWindow(dialog))
            DestroyWindow(dialog);
        SetCurrentDirectoryW(previousFolder);
        for (const wchar_t *name : AllFirmware) {
            std::wstring path = folder + L"\\" + name;
            DeleteFileW(path.c_str());
            RemoveDirectoryW(path.c_str());
        }
        RemoveDirectoryW(folder.c_str());
    }

    void resetRun(FirmwareKind kind)
    {
        releaseFirmwareFiles();
        resetFakeWorld();
        upgradeState = UpgradeState{};
        FakeQueue queue;
        queue.printerName = L"Vellumax 650";
        queue.shareName = L"Vx Selected";
        fakeWorld.queues.push_back(queue);
        upgradeState.mainDialog = dialog;
        upgradeState.statusText = status;
        upgradeState.firmwareKind = kind;
        ASSERT_TRUE(copyText(upgradeState.computerName, L"VXHOST"));
        ASSERT_TRUE(copyText(upgradeState.selectedQueue.printerName, L"Vellumax 650"));
        ASSERT_TRUE(copyText(upgradeState.selectedQueue.shareName, L"Vx Selected"));
        ASSERT_TRUE(copyText(upgradeState.targetShareName, L"Vx Target"));
        SetWindowTextW(status, L"Before");
    }

    static void writeFile(const wchar_t *name, const char *content = "fw")
    {
        HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
        CloseHandle(file);
    }

    static std::wstring copyOf(const std::wstring &file, const std::wstring &share)
    {
        return L"/C COPY /B " + file + L" \"\\\\VXHOST\\" + share + L"\"";
    }

    static std::vector<std::wstring> commandLines()
    {
        std::vector<std::wstring> lines;
        for (const StartedProcess &process : fakeWorld.started)
            lines.push_back(process.parameters);
        return lines;
    }

    // The one box a refused run shows, with nothing shared or started.
    static void expectRefusedWith(const std::wstring &text)
    {
        ASSERT_EQ(fakeWorld.boxes.size(), 1u);
        EXPECT_EQ(fakeWorld.boxes[0].text, text);
        EXPECT_EQ(fakeWorld.boxes[0].caption, L"Firmware Upgrade Error");
        EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_ICONERROR));
        EXPECT_EQ(fakeWorld.boxes[0].owner, upgradeState.mainDialog);
        EXPECT_TRUE(fakeWorld.openedNames.empty());
        EXPECT_TRUE(fakeWorld.started.empty());
        EXPECT_TRUE(upgradeState.heldFirmware.empty()) << "a refused run still holds firmware files";
    }

    std::wstring folder;
    WCHAR previousFolder[MAX_PATH] = L"";
    HWND dialog = nullptr, status = nullptr;
};

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

// Each of these would only show once the queue had been shared, or not at
// all: an empty file goes out as an empty job and the run reports success.
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

// One upgrade run, from the search to the final text, on the real dialog.
#include "app/resources/resource.h"
#include "app/sequence.h"
#include "app/ending.h"
#include "app/dialog.h"
#include "tests/app/app_fixture.h"
#include "tests/doubles/fresh_run.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const WCHAR searching[] =
    L"Searching for Tarnell Vellumax 350/650 series printer. Please connect your printer to this computer with a "
    L"USB cable";
const WCHAR notDetected[] =
    L"A compatible printer can not be detected. Please connect your printer to this computer with a USB cable. "
    L"Press Ok to continue";
const WCHAR copying[] = L"Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.";

std::wstring confirmation(const std::wstring &share)
{
    return L"Firmware A.05.01 is going to be copied to " + share +
           L" connected on USB port USB001.\nWarning! Check that installed firmware version is A.02.06 or newer "
           L"before proceeding further. Contact Tarnell support if printer firmware version is lower than A.02.06.";
}

std::wstring found(const std::wstring &queue)
{
    return L"Found the printer on USB port USB001 and its print queue " + queue +
           L".\nChecking that the upgrade can start...";
}

class Sequence : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        provideFirmwareFiles();
        ASSERT_NE(createDialog(), nullptr);
        // The start message has come.
        upgradeState.phase = PhaseStarting;
    }
    // The status text at the time of each box, in order.
    std::vector<std::wstring> statusAtBoxes;
    // Escape once a copy has run for a minute. Every box gets Ok but the
    // second, the question whether to stop, which gets what `question`
    // does and says.
    void answerStopQuestion(std::function<int()> question)
    {
        fakeWorld.onSleep = [this](DWORD milliseconds) {
            if (milliseconds == 60000)
                PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        };
        statusAtBoxes.clear();
        fakeWorld.onBox = [this, question](const ShownBox &) {
            statusAtBoxes.push_back(text(IDC_STATUS_TEXT));
            return fakeWorld.boxes.size() == 2 ? question() : IDOK;
        };
    }
    // Whether the firmware files were held while each box was open.
    std::vector<bool> filesHeldAtBoxes;
    void answerBoxes(std::vector<int> answers)
    {
        filesHeldAtBoxes.clear();
        fakeWorld.onBox = [this, answers, next = size_t(0)](const ShownBox &) mutable {
            statusAtBoxes.push_back(text(IDC_STATUS_TEXT));
            filesHeldAtBoxes.push_back(!upgradeState.heldFirmware.empty());
            return next < answers.size() ? answers[next++] : IDOK;
        };
    }
};

TEST_F(Sequence, StandardUpgradeOnAnUnsharedQueueSharesCopiesAndPutsSharingBack)
{
    connectPrinter();
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
    // None waiting before, then one job printing when restoring.
    fakeWorld.queues[0].jobCounts = {0, 1, 1, 0};
    std::wstring statusWhileCopying, detailWhileCopying;
    bool okWhileSearching = true, okWhileCopying = true;
    fakeWorld.processScripts = {ProcessScript{}};
    fakeWorld.processScripts[0].onRun = [&] {
        statusWhileCopying = text(IDC_STATUS_TEXT);
        detailWhileCopying = text(IDC_DETAIL_TEXT);
        okWhileCopying = IsWindowEnabled(control(IDOK));
    };
    fakeWorld.onSleep = [&](DWORD milliseconds) {
        if (milliseconds == 5000) {
            okWhileSearching = IsWindowEnabled(control(IDOK));
            // Enter typed ahead, still queued when the library has searched.
            PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 0);
        } else {
            // A click on Ok while the queue prints, still queued when the
            // final text comes.
            PostMessageW(control(IDOK), WM_LBUTTONDOWN, MK_LBUTTON, 0);
            PostMessageW(control(IDOK), WM_LBUTTONUP, 0, 0);
        }
    };
    answerBoxes({IDOK});

    runUpgradeSequence(dialog);
    EXPECT_FALSE(okWhileSearching);
    EXPECT_FALSE(okWhileCopying);
    EXPECT_TRUE(IsWindowEnabled(control(IDOK)));
    ASSERT_FALSE(fakeWorld.boxes.empty());
    EXPECT_FALSE(fakeWorld.boxes[0].inputPending) << "the confirmation would take the typed-ahead Enter";
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageW(dialog, &message))
            DispatchMessageW(&message);
    }
    EXPECT_TRUE(IsWindow(dialog)) << "a click made before Ok did anything closed the tool";
    // Awake and shutdown-proof from the confirmation until the sharing is back.
    auto at = [](const std::wstring &prefix) {
        auto &events = fakeWorld.events;
        return std::find_if(events.begin(), events.end(),
                            [&](const std::wstring &line) { return line.rfind(prefix, 0) == 0; }) -
               events.begin();
    };
    EXPECT_LT(at(L"MessageBox Confirmation"), at(L"PowerCreateRequest Firmware upgrade in progress"));
    EXPECT_LT(at(L"PowerSetRequest"), at(L"ShellExecuteEx"));
    EXPECT_LT(at(L"ShutdownBlockReasonCreate Firmware upgrade in progress."), at(L"ShellExecuteEx"));
    EXPECT_LT(at(L"SetPrinter 0x40"), at(L"PowerClearRequest"));
    EXPECT_LT(at(L"SetPrinter 0x40"), at(L"ShutdownBlockReasonDestroy"));
    EXPECT_EQ(fakeWorld.livePowerRequests, 0);
    EXPECT_EQ(fakeWorld.sleeps, (std::vector<DWORD>{5000, 1000})) << "found on the first attempt, after the pause";
    ASSERT_EQ(fakeWorld.boxes.size(), 1u);
    EXPECT_EQ(fakeWorld.boxes[0].owner, dialog);
    EXPECT_EQ(fakeWorld.boxes[0].caption, L"Confirmation");
    EXPECT_EQ(fakeWorld.boxes[0].text, L"Are you sure that you want to upgrade firmware?");
    EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(statusAtBoxes, std::vector<std::wstring>{confirmation(L"VX350")});
    EXPECT_EQ(statusWhileCopying, copying);
    // The details follow the run: what is happening, then what happened.
    const std::wstring printer = L"Printer: Tarnell Vellumax 350 on USB port USB001\nPrint queue: Vellumax 350, "
                                 L"shared as \\\\" + std::wstring(upgradeState.computerName) + L"\\VX350 for the upgrade, ";
    const std::wstring held = L"\nHeld in the queue until all files of a stage are in it whole\n";
    EXPECT_EQ(detailWhileCopying, printer + L"to be unshared afterwards" + held + L"Sends VX350_A.05.01.fmw (8 bytes)");
    EXPECT_EQ(text(IDC_DETAIL_TEXT), printer + L"unshared again" + held + L"Sent VX350_A.05.01.fmw (8 bytes)");
    EXPECT_EQ(copiedFiles(), std::vector<std::wstring>{L"VX350_A.05.01.fmw"});
    // Held: paused before the copy, its whole job put first, then resumed.
    EXPECT_LT(at(L"SetPrinter pause"), at(L"ShellExecuteEx"));
    EXPECT_LT(at(L"ShellExecuteEx"), at(L"SetJob 100 0 priority 99"));
    EXPECT_LT(at(L"SetJob 100 0 priority 99"), at(L"SetPrinter resume"));
    EXPECT_FALSE(fakeWorld.queues[0].status & PRINTER_STATUS_PAUSED);
    EXPECT_EQ(text(IDC_STATUS_TEXT), firmwareCopiedText);
    EXPECT_EQ(fakeWorld.writes.size(), 2u) << "shared, then unshared";
    EXPECT_FALSE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(GetWindowLongW(control(IDC_PROGRESS), GWL_STYLE) & WS_VISIBLE);
}

TEST_F(Sequence, SearchAndCopyingTextsAreOnScreenWhileTheToolBlocks)
{
    // The pauses and the copies block the thread without dispatching
    // messages; a text still waiting to be painted is never seen.
    ShowWindow(dialog, SW_SHOWNA);
    connectPrinter();
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
    auto painted = [&] {
        return !GetUpdateRect(dialog, nullptr, FALSE) && !GetUpdateRect(control(IDC_STATUS_TEXT), nullptr, FALSE);
    };
    bool paintedWhileSearching = false;
    bool paintedWhileCopying = false;
    fakeWorld.onSleep = [&](DWORD milliseconds) {
        if (milliseconds == 5000)
            paintedWhileSearching = painted();
    };
    fakeWorld.processScripts = {ProcessScript{}};
    fakeWorld.processScripts[0].onRun = [&] { paintedWhileCopying = painted(); };
    answerBoxes({IDOK});

    runUpgradeSequence(dialog);
    EXPECT_TRUE(paintedWhileSearching);
    EXPECT_TRUE(paintedWhileCopying);
}

TEST_F(Sequence, SearchRepeatsAfterOkUntilThePrinterIsConnected)
{
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350", true)};
    std::vector<std::wstring> statusAtSleeps;
    fakeWorld.onSleep = [&](DWORD) {
        statusAtSleeps.push_back(text(IDC_STATUS_TEXT));
        if (fakeWorld.sleeps.size() == 6)
            connectPrinter();
    };
    answerBoxes({IDOK, IDOK, IDOK, IDCANCEL});

    runUpgradeSequence(dialog);
    EXPECT_EQ(fakeWorld.sleeps, (std::vector<DWORD>{5000, 1000, 5000, 1000, 5000, 1000, 5000}));
    for (size_t i = 0; i < statusAtSleeps.size(); ++i)
        EXPECT_EQ(statusAtSleeps[i], i % 2 ? notDetected : searching) << i;
    ASSERT_EQ(fakeWorld.boxes.size(), 4u) << "three not-detected boxes and the confirmation";
    EXPECT_EQ(fakeWorld.boxes[0].caption, L"Error");
    EXPECT_EQ(fakeWorld.boxes[0].text, L"Printer not detected, please connect your printer to this computer with a "
                                       L"USB cable. Press Ok to continue");
    EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_OKCANCEL | MB_ICONWARNING));
    EXPECT_EQ(fakeWorld.boxes[0].owner, dialog);
    EXPECT_EQ(fakeWorld.boxes[3].caption, L"Confirmation");
}

TEST_F(Sequence, CancelInTheNotDetectedBoxEndsTheToolAfterTheLastPause)
{
    answerBoxes({IDCANCEL});
    bool openAtLastPause = true;
    fakeWorld.onSleep = [&](DWORD) { openAtLastPause = IsWindow(dialog); };

    runUpgradeSequence(dialog);
    EXPECT_EQ(fakeWorld.sleeps, (std::vector<DWORD>{5000, 1000}));
    EXPECT_FALSE(openAtLastPause);
    EXPECT_TRUE(fakeWorld.enumCalls.empty());
    EXPECT_TRUE(takeQuit());
}

// A printer without a queue, or whose port reports two models: a box says
// why, before anything is shared or sent, and the tool ends. (Only a pool on
// the port: the scenario only_a_pool_on_the_port.)
TEST_F(Sequence, APrinterThatCannotBeUpgradedEndsTheToolWithoutSharingAnything)
{
    struct Scene {
        const char *devices;
        std::vector<FakeQueue> queues;
        const WCHAR *box;
        const WCHAR *status;
    } scenes[] = {
        {"device\nrecord Tarnell Vellumax 350\nport USB001\n",
         {queue(L"Other printer", L"OTHER", false, L"USB002")},
         L"Queue not installed, please install queue. Firmware not upgraded",
         L"In order to continue, the Tarnell Vellumax 350/650 driver must be installed on this computer.\nThe printer "
         L"firmware hasn't been updated"},
        {"device\nrecord Tarnell Vellumax 350\nport USB001\nrecord Vellumax 650\nport USB001\n",
         {queue(L"Vellumax 350", L"VX350")},
         L"The printer on USB port USB001 reports two models, which need different firmware, so the firmware it needs "
         L"cannot be told. Firmware not upgraded",
         L"The printer firmware hasn't been updated"},
    };
    for (const Scene &scene : scenes) {
        startOver();
        provideFirmwareFiles();
        ASSERT_NE(createDialog(), nullptr);
        upgradeState.phase = PhaseStarting;
        statusAtBoxes.clear();
        connectPrinters(scene.devices);
        fakeWorld.queues = scene.queues;
        answerBoxes({});

        runUpgradeSequence(dialog);
        ASSERT_EQ(fakeWorld.boxes.size(), 1u) << scene.box;
        EXPECT_EQ(fakeWorld.boxes[0].text, scene.box);
        EXPECT_EQ(fakeWorld.boxes[0].caption, L"Error");
        EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_OK | MB_ICONWARNING));
        EXPECT_EQ(fakeWorld.boxes[0].owner, dialog);
        EXPECT_EQ(statusAtBoxes[0], scene.status);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_TRUE(fakeWorld.openedNames.empty()) << scene.box;
        EXPECT_TRUE(fakeWorld.started.empty()) << scene.box;
    }
}

TEST_F(Sequence, DecliningADiskStagedUpgradeSendsNothingAndOkThenCloses)
{
    connectPrinter("Tarnell Vellumax 650PS");
    fakeWorld.queues = {queue(L"Vellumax 650", L"VX650")};
    answerBoxes({IDCANCEL});

    runUpgradeSequence(dialog);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareDiskStaged);
    EXPECT_EQ(text(IDC_STATUS_TEXT), L"Firmware update has been cancelled.\nClick Ok to Finish.");
    EXPECT_TRUE(IsWindow(dialog));
    // Nothing will be sent: the files are free again while the text is read.
    HANDLE writer = CreateFileW(L"VX650DISK_A.04.02.fmw", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "a declined run still holds the firmware files";
    CloseHandle(writer);

    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(fakeWorld.started.empty());
    EXPECT_TRUE(fakeWorld.writes.empty());
}

// With several queues on the port the lookup selects the last one; the user
// must be shown, and the firmware sent to, the queue that gets shared.
TEST_F(Sequence, WithTwoQueuesOnThePortTheConfirmedQueueIsTheOneSharedAndCopiedTo)
{
    connectPrinter();
    fakeWorld.queues = {queue(L"Vellumax 350 first", L"FIRST"), queue(L"Vellumax 350 second", L"SECOND")};
    answerBoxes({IDOK});

    runUpgradeSequence(dialog);
    EXPECT_STREQ(upgradeState.targetShareName, L"SECOND");
    EXPECT_EQ(statusAtBoxes, std::vector<std::wstring>{confirmation(L"SECOND")});
    ASSERT_EQ(fakeWorld.started.size(), 1u);
    std::wstring destination = L" \"\\\\" + std::wstring(upgradeState.computerName) + L"\\SECOND\"";
    EXPECT_EQ(fakeWorld.started[0].parameters, L"/C COPY /B VX350_A.05.01.fmw" + destination);
    ASSERT_EQ(fakeWorld.writes.size(), 2u);
    for (const PrinterWrite &write : fakeWorld.writes)
        EXPECT_EQ(write.printerName, L"Vellumax 350 second");
}

// The "Select a Printer" dialog as it comes up: its caption, owner and
// lines, whether input was still queued, and then what the user does.
struct ChooserSeen {
    HWND owner = nullptr;
    std::vector<std::wstring> lines;
    bool selected = false;
    bool inputPending = false;
    RunPhase phase = PhaseCreated;
};
ChooserSeen chooserSeen;
std::function<void(HWND)> onChooser;

LRESULT CALLBACK chooserHook(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam);
    WCHAR caption[64] = L"";
    if (code == HCBT_ACTIVATE && onChooser && GetWindowTextW(window, caption, ARRAYSIZE(caption)) &&
        std::wstring(caption) == L"Select a Printer") {
        HWND list = GetDlgItem(window, IDC_PRINTER_LIST);
        chooserSeen.owner = GetWindow(window, GW_OWNER);
        for (LRESULT i = 0, n = SendMessageW(list, LB_GETCOUNT, 0, 0); i < n; ++i) {
            WCHAR line[1024] = L"";
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            chooserSeen.lines.push_back(line);
        }
        chooserSeen.selected = SendMessageW(list, LB_GETCURSEL, 0, 0) != LB_ERR;
        MSG queued;
        chooserSeen.inputPending = PeekMessageW(&queued, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE);
        chooserSeen.phase = upgradeState.phase;
        auto answer = onChooser;
        onChooser = nullptr;
        answer(window);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class PrinterChoice : public Sequence {
protected:
    void SetUp() override
    {
        Sequence::SetUp();
        chooserSeen = ChooserSeen{};
        hook = SetWindowsHookExW(WH_CBT, chooserHook, nullptr, GetCurrentThreadId());
        // A 350 on USB001 and a 650 on USB002.
        connectPrinters("device\nrecord Tarnell Vellumax 350\nport USB001\n"
                        "device\nrecord Vellumax 650\nport USB002\n");
        // Escape typed ahead while the library searched.
        fakeWorld.onSleep = [this](DWORD milliseconds) {
            if (milliseconds == 5000)
                PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        };
    }
    void TearDown() override
    {
        UnhookWindowsHookEx(hook);
        onChooser = nullptr;
        Sequence::TearDown();
    }
    HHOOK hook = nullptr;
};

// Ok acts only on a selected line; a double click chooses. Only the chosen
// printer's queue is shared and copied to, with its own firmware, and the
// details say so before the confirmation, cut to the control's width.
TEST_F(PrinterChoice, TheChosenPrinterAloneIsUpgradedWithItsOwnFirmware)
{
    // The library reports the 650 last: the 350 chosen must get its own kind.
    const std::wstring longQueue = L"Vellumax 350 " + std::wstring(150, L'Q');
    fakeWorld.queues = {queue(longQueue.c_str(), L"VX350", false, L"USB001"),
                        queue(L"Vellumax 650", L"VX650", false, L"USB002")};
    onChooser = [](HWND chooser) {
        HWND list = GetDlgItem(chooser, IDC_PRINTER_LIST);
        PostMessageW(chooser, WM_COMMAND, IDOK, 0);
        PostMessageW(list, LB_SETCURSEL, 0, 0);
        PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDC_PRINTER_LIST, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    };
    std::wstring detailAtConfirmation;
    fakeWorld.onBox = [&](const ShownBox &) {
        detailAtConfirmation = text(IDC_DETAIL_TEXT);
        return IDOK;
    };

    runUpgradeSequence(dialog);
    EXPECT_EQ(chooserSeen.owner, dialog);
    EXPECT_EQ(chooserSeen.lines,
              (std::vector<std::wstring>{L"Tarnell Vellumax 350 on USB port USB001, print queue " + longQueue,
                                         L"Vellumax 650 on USB port USB002, print queue Vellumax 650"}));
    EXPECT_FALSE(chooserSeen.selected) << "a printer was chosen for the user";
    EXPECT_FALSE(chooserSeen.inputPending) << "a key typed before the list was shown could answer it";
    EXPECT_EQ(chooserSeen.phase, PhaseAsking);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_STREQ(upgradeState.portName, L"USB001");
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareStandard);
    EXPECT_EQ(copiedFiles(), std::vector<std::wstring>{L"VX350_A.05.01.fmw"});
    ASSERT_FALSE(fakeWorld.writes.empty());
    for (const PrinterWrite &write : fakeWorld.writes)
        EXPECT_EQ(write.printerName, longQueue);

    // Plain lines; the queue's line is too long and is cut, within the control.
    const std::wstring computer = upgradeState.computerName;
    size_t second = detailAtConfirmation.find(L'\n');
    size_t third = detailAtConfirmation.find(L'\n', second + 1);
    ASSERT_NE(third, std::wstring::npos) << "details: " << testing::PrintToString(detailAtConfirmation);
    EXPECT_EQ(detailAtConfirmation.substr(0, second), L"Printer: Tarnell Vellumax 350 on USB port USB001");
    const std::wstring queueLine = detailAtConfirmation.substr(second + 1, third - second - 1);
    EXPECT_EQ(queueLine.rfind(L"Print queue: Vellumax 350 QQQ", 0), 0u) << testing::PrintToString(queueLine);
    EXPECT_EQ(queueLine.substr(queueLine.size() - 3), L"...");
    EXPECT_EQ(detailAtConfirmation.substr(third + 1),
              L"Held in the queue until all files of a stage are in it whole\nSends VX350_A.05.01.fmw (8 bytes)");
    HWND detail = control(IDC_DETAIL_TEXT);
    HDC dc = GetDC(detail);
    SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(detail, WM_GETFONT, 0, 0)));
    RECT area;
    GetClientRect(detail, &area);
    SIZE size = {};
    GetTextExtentPoint32W(dc, queueLine.c_str(), static_cast<int>(queueLine.size()), &size);
    ReleaseDC(detail, dc);
    EXPECT_LE(size.cx, area.right - area.left);
    // They stay until the run ends, and then say what was sent.
    std::wstring sent = detailAtConfirmation;
    sent.replace(sent.find(L"\nSends "), 7, L"\nSent ");
    EXPECT_EQ(text(IDC_DETAIL_TEXT), sent);
}

// Ok is enabled only while a line that can be upgraded is selected; a
// printer without a queue of its own, one served only by a pool and a port
// with two models are listed with the reason, and choosing them (Ok, a double
// click) leaves the list open. The printer chosen afterwards is upgraded
// through its queue alone, never the pool beside it.
TEST_F(PrinterChoice, OnlyALineThatCanBeUpgradedCanBeChosen)
{
    // Longer than a model can be kept: its line shows the start and "...".
    const std::string longModel = "Tarnell Vellumax 350 " + std::string(300, 'M');
    connectPrinters(("device\nrecord Vellumax 650\nport USB002\n"
                     "device\nrecord Tarnell Vellumax 350\nport usb001\n"
                     "device\nrecord " + longModel + "\nport USB003\n"
                     "device\nrecord Tarnell Vellumax 350\nport USB004\nrecord Vellumax 650\nport USB004\n")
                        .c_str());
    fakeWorld.queues = {queue(L"VX Q1", L"Q1", false, L"USB001"), queue(L"VX ZPool", L"ZPOOL", false, L"USB001,USB003")};
    bool okAtStart = true;
    std::vector<bool> okPerLine;
    LRESULT extent = 0;
    RECT listArea = {};
    LONG listStyle = 0;
    onChooser = [&](HWND chooser) {
        HWND list = GetDlgItem(chooser, IDC_PRINTER_LIST);
        HWND ok = GetDlgItem(chooser, IDOK);
        okAtStart = IsWindowEnabled(ok);
        extent = SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0);
        GetClientRect(list, &listArea);
        listStyle = GetWindowLongW(list, GWL_STYLE);
        const LPARAM listHandle = reinterpret_cast<LPARAM>(list);
        for (int line = 0; line < 4; ++line) {
            SendMessageW(list, LB_SETCURSEL, line, 0);
            SendMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDC_PRINTER_LIST, LBN_SELCHANGE), listHandle);
            okPerLine.push_back(IsWindowEnabled(ok));
        }
        // As the user would: the lines that cannot be upgraded first.
        for (int line : {0, 2, 3}) {
            PostMessageW(list, LB_SETCURSEL, line, 0);
            PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDC_PRINTER_LIST, LBN_DBLCLK), listHandle);
            PostMessageW(chooser, WM_COMMAND, IDOK, 0);
        }
        PostMessageW(list, LB_SETCURSEL, 1, 0);
        PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    };
    std::wstring detailAtConfirmation;
    fakeWorld.onBox = [&](const ShownBox &) {
        detailAtConfirmation = text(IDC_DETAIL_TEXT);
        return IDOK;
    };

    runUpgradeSequence(dialog);
    const std::wstring wideLongModel = std::wstring(longModel.begin(), longModel.begin() + 255) + L"...";
    EXPECT_EQ(chooserSeen.lines,
              (std::vector<std::wstring>{
                  L"Vellumax 650 on USB port USB002, no print queue installed",
                  L"Tarnell Vellumax 350 on USB port usb001, print queue VX Q1",
                  wideLongModel + L" on USB port USB003, only the pooled print queue VX ZPool, which cannot take firmware",
                  L"Printer on USB port USB004 reports two models, cannot be upgraded"}));
    EXPECT_FALSE(okAtStart);
    EXPECT_EQ(okPerLine, (std::vector<bool>{false, true, false, false}));
    EXPECT_TRUE(listStyle & WS_HSCROLL);
    EXPECT_GT(extent, listArea.right - listArea.left) << "the longest line can be scrolled into sight";
    EXPECT_STREQ(upgradeState.portName, L"usb001");
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareStandard);
    EXPECT_EQ(copiedFiles(), std::vector<std::wstring>{L"VX350_A.05.01.fmw"});
    ASSERT_FALSE(fakeWorld.writes.empty());
    for (const PrinterWrite &write : fakeWorld.writes)
        EXPECT_EQ(write.printerName, L"VX Q1");
    EXPECT_EQ(detailAtConfirmation, L"Printer: Tarnell Vellumax 350 on USB port usb001\nPrint queue: VX Q1, to be shared as "
                                    L"\\\\" + std::wstring(upgradeState.computerName) +
                                        L"\\Q1 for the upgrade, unshared afterwards\nHeld in the queue until all files of a stage are "
                                        L"in it whole\nSends VX350_A.05.01.fmw (8 bytes)");
}

// Cancel ends the tool as in the not-detected box: nothing shared or sent.
TEST_F(PrinterChoice, CancelEndsTheToolWithNothingChanged)
{
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350", false, L"USB001")};
    onChooser = [](HWND chooser) { PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0); };

    runUpgradeSequence(dialog);
    EXPECT_EQ(chooserSeen.lines,
              (std::vector<std::wstring>{L"Tarnell Vellumax 350 on USB port USB001, print queue Vellumax 350",
                                         L"Vellumax 650 on USB port USB002, no print queue installed"}));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(fakeWorld.boxes.empty());
    EXPECT_TRUE(fakeWorld.writes.empty());
    EXPECT_TRUE(fakeWorld.started.empty());
}

TEST_F(Sequence, DiskStagedUpgradeWaitsForTheRebootBetweenItsStages)
{
    connectPrinter("Tarnell Vellumax 650PS");
    fakeWorld.queues = {queue(L"Vellumax 650", L"VX650")};
    answerBoxes({IDOK});
    bool barWhileDiskCopies = true;
    fakeWorld.processScripts = {ProcessScript{}};
    fakeWorld.processScripts[0].onRun = [&] {
        barWhileDiskCopies = GetWindowLongW(control(IDC_PROGRESS), GWL_STYLE) & WS_VISIBLE;
    };

    runUpgradeSequence(dialog);
    EXPECT_FALSE(barWhileDiskCopies) << "the reboot wait begins once the disk file has been sent";
    EXPECT_EQ(copiedFiles(), std::vector<std::wstring>{L"VX650DISK_A.04.02.fmw"});
    EXPECT_EQ(text(IDC_STATUS_TEXT), std::wstring(copying) + L"\nPlease wait while printer is upgrading disk file.");
    EXPECT_FALSE(IsWindowEnabled(control(IDOK)));
    EXPECT_TRUE(GetWindowLongW(control(IDC_PROGRESS), GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED) << "still shared for the second stage";
    const std::wstring details = text(IDC_DETAIL_TEXT);
    EXPECT_NE(details.find(L"\nSent VX650DISK_A.04.02.fmw (8 bytes)\nafter the printer's reboot, VX650PS"),
              std::wstring::npos)
        << testing::PrintToString(details);
    EXPECT_EQ(fakeWorld.livePowerRequests, 1) << "the reboot wait is part of the upgrade";
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(fakeWorld.started.size(), 1u) << "a disabled Ok starts nothing, whoever sends it";

    for (int tick = 0; tick < 101; ++tick)
        SendMessageW(dialog, WM_TIMER, IDT_REBOOT_WAIT, 0);
    EXPECT_TRUE(IsWindowEnabled(control(IDOK)));
    SetWindowTextW(control(IDC_DETAIL_TEXT), L"left over");
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(copiedFiles(), (std::vector<std::wstring>{L"VX650DISK_A.04.02.fmw", L"VX650PS_A.04.02.fmw",
                                                        L"VX350_A.05.01.fmw"}));
    EXPECT_EQ(text(IDC_STATUS_TEXT), firmwareCopiedText);
    EXPECT_EQ(text(IDC_DETAIL_TEXT), L"");
    // Each stage was held on its own and released whole.
    EXPECT_EQ(eventsStartingWith(L"SetPrinter pause").size(), 2u);
    EXPECT_EQ(eventsStartingWith(L"SetPrinter resume").size(), 2u);
    EXPECT_EQ(eventsStartingWith(L"SetJob").size(), 3u);
    EXPECT_FALSE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
    EXPECT_EQ(fakeWorld.livePowerRequests, 0);
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(IsWindow(dialog));
}

// The success text alone would tell the user that nothing is left to do.
TEST_F(Sequence, SharingThatCouldNotBePutBackIsNamedInTheFinalText)
{
    const std::wstring stillShared =
        std::wstring(firmwareCopiedText) + L"\nThe printer Vellumax 650 is still shared as VX650: the tool could not "
                                           L"stop sharing it. Stop sharing it in the printer's properties.";
    connectPrinter("Tarnell Vellumax 350");
    fakeWorld.queues = {queue(L"Vellumax 650", L"VX650")};
    fakeWorld.processScripts = {ProcessScript{}};
    // The copy has gone out; the unshare write is refused.
    fakeWorld.processScripts[0].onRun = [] { fakeWorld.setFails = true; };
    answerBoxes({IDOK});
    runUpgradeSequence(dialog);
    EXPECT_EQ(text(IDC_STATUS_TEXT), stillShared);
}

// A box's modal loop delivers whatever reaches the dialog meanwhile (a
// posted message, say): the phase keeps it from acting. For a disk-staged
// printer an Ok there would start the second stage inside the first.
TEST_F(Sequence, OkEscapeAndCloseWaitWhileTheFirstStageRuns)
{
    connectPrinter("Tarnell Vellumax 650PS");
    fakeWorld.queues = {queue(L"Vellumax 650", L"VX650")};
    fakeWorld.setFails = true;  // sharing refused: the stage shows its box
    bool openAfterInput = false;
    fakeWorld.onBox = [&](const ShownBox &box) {
        if (box.caption == L"Information") {
            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            SendMessageW(dialog, WM_CLOSE, 0, 0);
            openAfterInput = IsWindow(dialog);
        }
        return IDOK;
    };

    runUpgradeSequence(dialog);
    EXPECT_TRUE(openAfterInput);
    EXPECT_TRUE(fakeWorld.started.empty());
    EXPECT_FALSE(IsWindow(dialog)) << "closed by the run once the stage has failed";
}

// The queue's and the computer's state, told before the confirmation while
// the status text names what was found. A refusal is one box and the end; a
// question goes on to the confirmation only on Ok, and Cancel, its default,
// ends the tool. Either way nothing is shared or sent before the user agrees.
TEST_F(Sequence, WhatWouldKeepTheFirmwareFromThePrinterIsToldBeforeTheConfirmation)
{
    enum Says { Nothing, Refusal, Question };
    struct Case {
        const char *why;
        std::function<void(FakeQueue &)> arrange;
        Says says;
        std::wstring text;
    };
    const std::wstring cancelled = L"\nFirmware upgrade cancelled.";
    const std::wstring anyway = L"\nPress Ok to upgrade anyway, or Cancel to stop.";
    const std::wstring problem = L".\nFix the printer first (power, paper, ink, covers, the message on its front "
                                 L"panel). Some drivers report a problem that is not there." + anyway;
    const std::wstring offline =
        L"The print queue Vellumax 350 is set to Use Printer Offline, so it would keep the firmware instead of "
        L"sending it to the printer.\nTurn off \"Use Printer Offline\" in the queue's Printer menu, then start the "
        L"upgrade again." + cancelled;
    const std::wstring paused =
        L"The print queue Vellumax 350 is paused, so it would keep the firmware instead of sending it to the "
        L"printer.\nResume it (Pause Printing in the queue's Printer menu), then start the upgrade again." +
        cancelled;
    auto battery = [&](BYTE line, BYTE flag, BYTE percent) {
        return [=](FakeQueue &) { fakeWorld.powerStatus = {line, flag, percent, 0, 3600, 7200}; };
    };
    const Case cases[] = {
        {"a queue in use, nothing to say",
         [](FakeQueue &q) { q.status = PRINTER_STATUS_BUSY | PRINTER_STATUS_PRINTING | PRINTER_STATUS_TONER_LOW; },
         Nothing, L""},
        {"used offline", [](FakeQueue &q) { q.attributes |= PRINTER_ATTRIBUTE_WORK_OFFLINE; }, Refusal, offline},
        {"paused", [](FakeQueue &q) { q.status = PRINTER_STATUS_PAUSED; }, Refusal, paused},
        {"paused with a jam: the refusal alone",
         [](FakeQueue &q) { q.status = PRINTER_STATUS_PAUSED | PRINTER_STATUS_PAPER_JAM; }, Refusal, paused},
        // Only plain RAW sends the file's bytes; a queue naming no data type
        // gets the spooler's RAW.
        {"a data type that changes the data", [](FakeQueue &q) { q.datatype = L"RAW [FF appended]"; }, Refusal,
         L"The print queue Vellumax 350 gives its documents to the printer as \"RAW [FF appended]\" data, which "
         L"would change the firmware on its way to the printer.\nChoose RAW as its default data type (the printer's "
         L"properties, Advanced, Print Processor), then start the upgrade again." + cancelled},
        {"RAW, named in other letters", [](FakeQueue &q) { q.datatype = L"raw"; }, Nothing, L""},
        {"sharing needed but not allowed", [](FakeQueue &) { fakeWorld.administrationDenied = true; }, Refusal,
         L"The print queue Vellumax 350 must be shared for the upgrade, and sharing it needs the right to manage "
         L"printers.\nStart the tool as an administrator, or share the queue first in the printer's properties "
         L"(Sharing), then start the upgrade again." + cancelled},
        {"shared already: no right needed",
         [](FakeQueue &q) {
             fakeWorld.administrationDenied = true;
             q.attributes |= PRINTER_ATTRIBUTE_SHARED;
         },
         Nothing, L""},
        {"the printer reports itself offline",
         [](FakeQueue &q) { q.status = PRINTER_STATUS_OFFLINE; }, Question,
         L"The printer of the print queue Vellumax 350 reports: offline" + problem},
        {"a jam and an open door",
         [](FakeQueue &q) { q.status = PRINTER_STATUS_DOOR_OPEN | PRINTER_STATUS_PAPER_JAM; }, Question,
         L"The printer of the print queue Vellumax 350 reports: paper jam, door open" + problem},
        {"jobs waiting", [](FakeQueue &q) { q.jobCounts = {2}; }, Question,
         L"The print queue Vellumax 350 already holds jobs that have not printed. The firmware would wait behind "
         L"them, and a stuck job would keep it from the printer.\nLet the waiting jobs print, or cancel them in "
         L"the queue's window." + anyway},
        {"a low battery", battery(AC_LINE_OFFLINE, BATTERY_FLAG_LOW, 29), Question,
         L"This computer is running on battery, with 29% left. It must not run out of power during the upgrade, "
         L"or the printer may be left half upgraded.\nConnect it to mains power." + anyway},
        {"enough battery", battery(AC_LINE_OFFLINE, BATTERY_FLAG_HIGH, 30), Nothing, L""},
        {"a low battery on mains power", battery(AC_LINE_ONLINE, BATTERY_FLAG_CHARGING, 5), Nothing, L""},
        {"an unknown charge", battery(AC_LINE_OFFLINE, BATTERY_FLAG_UNKNOWN, BATTERY_PERCENTAGE_UNKNOWN), Nothing,
         L""},
        {"no battery", battery(AC_LINE_OFFLINE, BATTERY_FLAG_NO_BATTERY, 0), Nothing, L""},
    };
    for (const Case &c : cases) {
        for (int answer : c.says == Question ? std::vector<int>{IDOK, IDCANCEL} : std::vector<int>{IDOK}) {
            SCOPED_TRACE(testing::Message() << c.why << (answer == IDOK ? ", Ok" : ", Cancel"));
            startOver();
            upgradeState.phase = PhaseStarting;
            statusAtBoxes.clear();
            ASSERT_NE(createDialog(), nullptr);
            connectPrinter();
            fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
            c.arrange(fakeWorld.queues[0]);
            // The confirmation, when it comes, is declined.
            answerBoxes(c.says == Nothing ? std::vector<int>{IDCANCEL} : std::vector<int>{answer, IDCANCEL});

            runUpgradeSequence(dialog);
            EXPECT_TRUE(fakeWorld.writes.empty());
            EXPECT_TRUE(fakeWorld.started.empty());
            ASSERT_FALSE(fakeWorld.boxes.empty());
            const ShownBox &first = fakeWorld.boxes[0];
            if (c.says == Nothing) {
                EXPECT_EQ(first.caption, L"Confirmation");
                continue;
            }
            EXPECT_EQ(first.text, c.text);
            EXPECT_EQ(first.owner, dialog);
            EXPECT_EQ(statusAtBoxes[0], found(L"Vellumax 350"));
            // A refusal lets the files go before its box; a question keeps
            // them, for an Ok that goes on.
            EXPECT_EQ(filesHeldAtBoxes[0], c.says == Question);
            if (c.says == Refusal) {
                EXPECT_EQ(first.caption, L"Firmware Upgrade Error");
                EXPECT_EQ(first.type, UINT(MB_OK | MB_ICONERROR));
            } else {
                EXPECT_EQ(first.caption, L"Warning");
                EXPECT_EQ(first.type, UINT(MB_OKCANCEL | MB_DEFBUTTON2 | MB_ICONWARNING));
            }
            bool goesOn = c.says == Question && answer == IDOK;
            ASSERT_EQ(fakeWorld.boxes.size(), goesOn ? 2u : 1u);
            if (goesOn) {
                EXPECT_EQ(fakeWorld.boxes[1].caption, L"Confirmation");
            }
            EXPECT_EQ(IsWindow(dialog), goesOn) << "a refusal or a Cancel ends the tool";
        }
    }
}

TEST_F(Sequence, NothingIsSentWithoutAClearOk)
{
    // The confirmation box could not be shown.
    connectPrinter();
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
    answerBoxes({0});
    runUpgradeSequence(dialog);
    EXPECT_TRUE(fakeWorld.started.empty());
    EXPECT_TRUE(fakeWorld.writes.empty());
}

// A printer that stops taking data leaves its copy hanging. After a minute
// Escape offers to stop; yes ends the interpreter, takes the copy's partial
// job out of the queue (the user's older job and a colleague's stay),
// unshares without waiting and says what to do; no lets the copy go on. A
// yes that comes after the copy went through stops nothing, and a session
// that ends while the question is open shows no box.
TEST_F(Sequence, ACopyThatDoesNotEndCanBeStoppedAfterAMinute)
{
    const std::wstring stalled = std::wstring(copying) + L"\nThe copy to the printer has not finished for a minute. "
                                                         L"Press Esc to stop the upgrade.";
    const std::wstring stoppedStart =
        L"The firmware upgrade has been stopped.\nThe printer may have received part of a firmware file.";
    // The one file was cut short.
    const std::wstring stoppedEnd =
        L" Switch the printer off and on again, then run the upgrade again.\nFile cut short: VX350_A.05.01.fmw.";
    const std::wstring removed =
        L" Its unfinished document (job 8) was deleted from the print queue Vellumax 350; no other document was "
        L"touched.";
    const std::wstring left = L"\nThe print queue Vellumax 350 may still hold the rest of it: delete that document "
                              L"in the queue's window before you switch the printer off and on.";
    enum Ending { Stopped, GoesOn, Session };
    struct Case {
        const char *name;
        int answer;
        std::function<void()> beforeCopy;  // also: what the queue holds before the copy
        std::function<void()> duringCopy;  // beside the copy's own job 8 and a colleague's 9
        bool copyGoesThroughMeanwhile;
        Ending ending;
        std::vector<DWORD> deleted;
        std::wstring stoppedText;
    } cases[] = {
        {"stop", IDYES, [] {}, [] {}, false, Stopped, {8}, stoppedStart + removed + stoppedEnd},
        {"stop, the job cannot be deleted", IDYES, [] { fakeWorld.setJobFails = true; }, [] {}, false, Stopped, {},
         stoppedStart + left + stoppedEnd},
        // Without them the copy's own could not be told from the rest.
        {"stop, the jobs before the copy could not be listed", IDYES, [] { fakeWorld.enumJobsFails = true; },
         [] { fakeWorld.enumJobsFails = false; }, false, Stopped, {}, stoppedStart + left + stoppedEnd},
        {"stop, a second document like the copy's arrived", IDYES, [] {},
         [] { fakeWorld.queues[0].jobIds.push_back(10); }, false, Stopped, {},
         stoppedStart +
             L"\nThe print queue Vellumax 350 received 3 document(s) during the copy, and none of them could be told "
             L"to be the firmware's, so none was deleted. Look at them in the queue's window before you switch the "
             L"printer off and on: delete the one you sent during the copy, which holds part of a firmware file." +
             stoppedEnd},
        // Its own job is whole: it stays, and the run ends as one that went
        // through, with nothing left to send.
        {"stop, the copy ends between the look and the termination", IDYES,
         [] { fakeWorld.processScripts[0].endsBeforeTermination = true; }, [] {}, false, GoesOn, {}, L""},
        {"stop, the unshare refused", IDYES, [] {}, [] { fakeWorld.setFails = true; }, false, Stopped, {8},
         stoppedStart + removed + stoppedEnd + L"\nThe printer Vellumax 350 is still shared as VX350: the tool could "
                                               L"not stop sharing it. Stop sharing it in the printer's properties."},
        {"go on", IDNO, [] {}, [] {}, false, GoesOn, {}, L""},
        {"stop after the copy went through", IDYES, [] {}, [] {}, true, GoesOn, {}, L""},
        {"the session ends while the question is open", IDNO, [] {}, [] {}, false, Session, {8}, L""},
        {"the session ends after the copy went through", IDNO, [] {}, [] {}, true, Session, {}, L""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        connectPrinter();
        // A queue Windows will not pause: each file goes to the printer as it
        // arrives, and the copy's job is the one this case scripts.
        fakeWorld.pauseFails = true;
        fakeWorld.copiesMakeJobs = false;
        fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
        // A job of the user's own before the copy; the copy's job appears,
        // and a colleague's beside it.
        fakeWorld.queues[0].jobIds = {7};
        fakeWorld.queues[0].jobUsers[9] = L"colleague";
        // After a stop the queue keeps a job that does not print: the
        // sharing must go back without waiting for it, also where the run
        // then ends as done.
        const bool stopChosen = c.answer == IDYES || c.ending != GoesOn;
        if (stopChosen)
            fakeWorld.queues[0].jobCounts = {0, 1};
        fakeWorld.processScripts = {ProcessScript{}};
        fakeWorld.processScripts[0].runsFor = 600000;
        c.beforeCopy();
        // Escape during the first minute means nothing; after it, it asks.
        fakeWorld.processScripts[0].onRun = [&] {
            fakeWorld.queues[0].jobIds.push_back(8);
            fakeWorld.queues[0].jobIds.push_back(9);
            c.duringCopy();
            PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        };
        answerStopQuestion([&] {
            if (c.copyGoesThroughMeanwhile)
                endRunningProcesses();
            if (c.ending == Session) {
                SendMessageW(dialog, WM_QUERYENDSESSION, 0, 0);
                SendMessageW(dialog, WM_ENDSESSION, TRUE, 0);
            }
            return c.answer;
        });

        runUpgradeSequence(dialog);
        ASSERT_GE(fakeWorld.boxes.size(), 2u);
        EXPECT_EQ(fakeWorld.boxes[1].text, L"The copy to the printer has not finished for a minute.\nStop the "
                                           L"upgrade? The printer may then have received part of a firmware file.");
        EXPECT_EQ(fakeWorld.boxes[1].type, UINT(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
        EXPECT_EQ(fakeWorld.boxes[1].owner, dialog);
        EXPECT_EQ(statusAtBoxes[1], stalled);
        EXPECT_EQ(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED,
                  c.stoppedText.find(L"still shared") != std::wstring::npos ? 8u : 0u);
        EXPECT_EQ(fakeWorld.deletedJobs, c.deleted);
        EXPECT_EQ(fakeWorld.terminatedProcesses, c.ending == GoesOn || c.copyGoesThroughMeanwhile ? 0 : 1);
        if (fakeWorld.terminatedProcesses) {
            // The wait for the ended interpreter to go answers the window.
            const auto &events = fakeWorld.events;
            auto terminated = std::find(events.begin(), events.end(), L"TerminateProcess");
            EXPECT_NE(std::find(terminated, events.end(), L"Wait process ended"), events.end());
        }
        if (stopChosen) {
            EXPECT_EQ(std::count(fakeWorld.sleeps.begin(), fakeWorld.sleeps.end(), 1000u), 0)
                << "waited for the queue's jobs after a stop";
        }
        if (c.ending != GoesOn) {
            EXPECT_FALSE(IsWindow(dialog));
        }
        if (c.ending == Stopped) {
            ASSERT_EQ(fakeWorld.boxes.size(), 3u);
            EXPECT_EQ(fakeWorld.boxes[2].text, c.stoppedText);
            EXPECT_EQ(fakeWorld.boxes[2].type, UINT(MB_OK | MB_ICONWARNING));
        } else {
            EXPECT_EQ(fakeWorld.boxes.size(), 2u) << "a box after the question";
        }
        if (c.ending == GoesOn) {
            EXPECT_EQ(text(IDC_STATUS_TEXT), firmwareCopiedText);
        }
        EXPECT_EQ(fakeWorld.liveProcessHandles, 0);
        AppTest::TearDown();
    }
}

// Yes stops at the next file boundary at the latest: a file whose copy went
// through while the question was open stays sent and nothing more goes out;
// a copy that failed meanwhile ends the run as that failure, without waiting
// for the queue. The boxes say which files reached the queue whole.
TEST_F(Sequence, AStopAfterAFileWentThroughSendsNothingMore)
{
    const std::wstring notComplete = L"\nThe upgrade is not complete: run it again to finish it.";
    struct Case {
        const char *name;
        const char *model;
        size_t stalls;       // the copy that stalls, counted from 0
        DWORD exitCode;      // of that copy, should it end during the question
        bool endsMeanwhile;  // it ends while the question is open; otherwise it is cut short
        size_t started;
        std::wstring lastBox;
    } cases[] = {
        {"plot language, the first of three went through", "Tarnell Vellumax 350 plus", 0, 0, true, 1,
         L"The firmware upgrade has been stopped.\nFiles sent whole to the print queue: VX355KPLOT_A.04.02.fmw.\n"
         L"Files not sent: VX350KPLOT_A.04.02.fmw, VX350_A.05.01.fmw." +
             notComplete},
        {"650, the disk file went through", "Tarnell Vellumax 650PS", 0, 0, true, 1,
         L"The firmware upgrade has been stopped.\nFiles sent whole to the print queue: VX650DISK_A.04.02.fmw.\n"
         L"Files not sent: VX650PS_A.04.02.fmw, VX350_A.05.01.fmw." +
             notComplete},
        {"plot language, the first copy failed", "Tarnell Vellumax 350 plus", 0, 1, true, 1,
         L"Error 1 copying Firmware files to printer! Its unfinished document (job 8) was deleted from the print "
         L"queue Vellumax 350; no other document was touched.\nFirmware upgrade cancelled."},
        {"plot language, the second copy cut short", "Tarnell Vellumax 350 plus", 1, 0, false, 2,
         L"The firmware upgrade has been stopped.\nThe printer may have received part of a firmware file. Its "
         L"unfinished document (job 8) was deleted from the print queue Vellumax 350; no other document was touched. "
         L"Switch the printer off and on again, then run the upgrade again.\nFiles sent whole to the print queue: "
         L"VX355KPLOT_A.04.02.fmw.\nFile cut short: VX350KPLOT_A.04.02.fmw.\nFiles not sent: VX350_A.05.01.fmw."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        connectPrinter(c.model);
        // A queue Windows will not pause: each file goes to the printer as it
        // arrives, and the copy's job is the one this case scripts.
        fakeWorld.pauseFails = true;
        fakeWorld.copiesMakeJobs = false;
        fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
        // The queue keeps a job after the stop: nothing may wait for it.
        fakeWorld.queues[0].jobCounts = {0, 1};
        fakeWorld.processScripts = {ProcessScript{}, ProcessScript{}, ProcessScript{}};
        ProcessScript &stalled = fakeWorld.processScripts[c.stalls];
        stalled.runsFor = 600000;
        stalled.exitCode = c.exitCode;
        stalled.onRun = [] { fakeWorld.queues[0].jobIds.push_back(8); };
        answerStopQuestion([&] {
            if (c.endsMeanwhile)
                endRunningProcesses();
            return IDYES;
        });

        runUpgradeSequence(dialog);
        EXPECT_EQ(fakeWorld.started.size(), c.started);
        ASSERT_EQ(fakeWorld.boxes.size(), 3u);
        EXPECT_EQ(fakeWorld.boxes[2].text, c.lastBox);
        // Under the last box nothing claims to be copying any more.
        EXPECT_EQ(statusAtBoxes[2], L"The firmware upgrade has been stopped.");
        EXPECT_FALSE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
        EXPECT_EQ(std::count(fakeWorld.sleeps.begin(), fakeWorld.sleeps.end(), 1000u), 0)
            << "waited for the queue's jobs after a stop";
        EXPECT_EQ(fakeWorld.terminatedProcesses, c.endsMeanwhile ? 0 : 1);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_TRUE(upgradeState.heldFirmware.empty());
        AppTest::TearDown();
    }
}

// The printer gets a stage only once all of its files are in the paused
// queue, whole; then they go first, in order. A stop or a failure before
// that takes the stage back: its documents are deleted, the queue resumed
// and unshared at once, and the printer has received nothing of it. Where a
// document of the copies cannot be told, nothing but the known ones is
// deleted, and the queue stays paused while the box asks the user to look.
TEST_F(Sequence, AHeldStageReachesThePrinterWholeOrNotAtAll)
{
    const std::wstring plot = L"Tarnell Vellumax 350 plus";
    const std::wstring withdrawn = L"The printer received nothing of this stage: it was held in the print queue "
                                   L"Vellumax 350, and the tool deleted its firmware documents there.";
    const std::wstring lookFirst =
        L"\nThe queue stays paused until you press Ok. Before that, open its window and delete every document you "
        L"sent during the upgrade that is still there: it may hold part of a firmware file.";
    const std::wstring runAgain = L"\nRun the upgrade again; there is no need to switch the printer off and on.";
    const std::wstring stopped = L"The firmware upgrade has been stopped.\n";
    const std::wstring noneSent =
        L"\nFiles not sent: VX355KPLOT_A.04.02.fmw, VX350KPLOT_A.04.02.fmw, VX350_A.05.01.fmw.";
    const std::wstring cancelled = L"\nFirmware upgrade cancelled.";
    enum Question { NoStall, Stop, StopOnceThrough, SessionEnds };
    struct Case {
        const char *name;
        std::function<void()> world;  // the copies' jobs are 100, 101, 102; a colleague's 9 waits before
        int stalls;                   // the copy that stalls and is asked about, or -1
        Question question;
        std::vector<DWORD> deleted;
        std::vector<DWORD> putFirst;
        std::wstring lastBox;  // empty: the run ends as done, or quietly
        bool pausedDuringBox;
    } cases[] = {
        {"three files whole, a colleague's document arriving between them", [] {
             fakeWorld.processScripts[1].onRun = [] {
                 fakeWorld.queues[0].jobIds.push_back(50);
                 fakeWorld.queues[0].jobUsers[50] = L"colleague";
             };
         }, -1, NoStall, {}, {100, 101, 102}, L"", false},
        // A translated Windows names a copy's document otherwise: its size
        // tells it.
        {"another document name, told by the size", [] {
             for (DWORD id : {100u, 101u, 102u})
                 fakeWorld.queues[0].jobDocuments[id] = L"Document distant";
         }, -1, NoStall, {}, {100, 101, 102}, L"", false},
        {"another document name, and one of the same size beside it", [] {
             fakeWorld.queues[0].jobDocuments[101] = L"Document distant";
             fakeWorld.processScripts[1].onRun = [] {
                 fakeWorld.queues[0].jobIds.push_back(51);
                 fakeWorld.queues[0].jobSizes[51] = 8;
                 fakeWorld.queues[0].jobDocuments[51] = L"Notes";
             };
         }, -1, NoStall, {100}, {},
         L"The print queue Vellumax 350 received 2 document(s) during the copy of VX350KPLOT_A.04.02.fmw, and none "
         L"of them could be told to be the firmware's, so its arrival cannot be checked.\n" + withdrawn + lookFirst +
             runAgain + cancelled, true},
        {"a copy fails", [] { fakeWorld.processScripts[1].exitCode = 1; }, -1, NoStall, {101, 100}, {},
         L"Error 1 copying Firmware files to printer!\n" + withdrawn + runAgain + cancelled, false},
        {"a document is not whole once the last copy has ended", [] {
             fakeWorld.processScripts[2].onRun = [] { fakeWorld.queues[0].jobSizes[100] = 5; };
         }, -1, NoStall, {100, 101, 102}, {},
         L"The print queue Vellumax 350 did not take VX355KPLOT_A.04.02.fmw whole (its document holds 5 bytes).\n" +
             withdrawn + runAgain + cancelled, false},
        {"stop while the second copy stalls", [] {}, 1, Stop, {101, 100}, {},
         stopped + withdrawn + runAgain + noneSent, false},
        {"stop once the last copy has gone through, before the release", [] {}, 2, StopOnceThrough, {100, 101, 102},
         {}, stopped + withdrawn + runAgain + noneSent, false},
        {"the session ends during a copy", [] {}, 1, SessionEnds, {101, 100}, {}, L"", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        connectPrinter("Tarnell Vellumax 350 plus");
        fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
        fakeWorld.queues[0].jobIds = {9};
        fakeWorld.queues[0].jobUsers[9] = L"colleague";
        // A stage taken back leaves nothing of the tool's to wait for: the
        // colleague's job that does not print must not hold the unsharing.
        if (!c.lastBox.empty() || c.question == SessionEnds)
            fakeWorld.queues[0].jobCounts = {0, 1};
        fakeWorld.processScripts = {ProcessScript{}, ProcessScript{}, ProcessScript{}};
        if (c.stalls >= 0)
            fakeWorld.processScripts[c.stalls].runsFor = 600000;
        c.world();
        bool pausedDuringLastBox = false;
        answerStopQuestion([&] {
            if (c.question == StopOnceThrough)
                endRunningProcesses();
            if (c.question == SessionEnds) {
                SendMessageW(dialog, WM_QUERYENDSESSION, 0, 0);
                SendMessageW(dialog, WM_ENDSESSION, TRUE, 0);
            }
            return IDYES;
        });
        auto asked = fakeWorld.onBox;
        fakeWorld.onBox = [&](const ShownBox &box) {
            pausedDuringLastBox = fakeWorld.queues[0].status & PRINTER_STATUS_PAUSED;
            return c.stalls >= 0 ? asked(box) : IDOK;
        };

        runUpgradeSequence(dialog);
        if (c.stalls >= 0) {
            ASSERT_GE(fakeWorld.boxes.size(), 2u);
            EXPECT_EQ(fakeWorld.boxes[1].text, L"The copy to the printer has not finished for a minute.\nStop the "
                                               L"upgrade? The print queue holds this stage until all of its files "
                                               L"are in it, so the printer has received nothing of it yet.");
        }
        EXPECT_EQ(fakeWorld.deletedJobs, c.deleted);
        std::vector<std::wstring> first, movedFirst;
        for (DWORD id : c.putFirst)
            first.push_back(L"SetJob " + std::to_wstring(id) + L" 0 priority 99");
        for (const std::wstring &line : eventsStartingWith(L"SetJob "))
            if (line.find(L" priority ") != std::wstring::npos)
                movedFirst.push_back(line);
        EXPECT_EQ(movedFirst, first);
        EXPECT_FALSE(fakeWorld.queues[0].status & PRINTER_STATUS_PAUSED) << "the queue left paused";
        EXPECT_FALSE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
        if (c.lastBox.empty() && c.question != SessionEnds) {
            EXPECT_EQ(text(IDC_STATUS_TEXT), firmwareCopiedText);
            EXPECT_EQ(fakeWorld.boxes.size(), 1u);
        } else {
            EXPECT_EQ(std::count(fakeWorld.sleeps.begin(), fakeWorld.sleeps.end(), 1000u), 0)
                << "waited for the queue after the stage was taken back";
            EXPECT_FALSE(IsWindow(dialog));
            ASSERT_FALSE(fakeWorld.boxes.empty());
            if (!c.lastBox.empty()) {
                EXPECT_EQ(fakeWorld.boxes.back().text, c.lastBox);
                EXPECT_EQ(pausedDuringLastBox, c.pausedDuringBox);
            }
        }
        AppTest::TearDown();
    }
}

// Where Windows will not pause the queue, its stages go as files that print
// as they arrive, and the details say so before the user is asked.
TEST_F(Sequence, AQueueThatCannotBeHeldIsNamedBeforeTheConfirmation)
{
    struct Case {
        const char *name;
        std::function<void()> world;
        std::wstring line;
    } cases[] = {
        {"the spooler refuses the pause", [] { fakeWorld.pauseFails = true; },
         L"Not held in the queue (pausing it was refused): each file prints as it arrives"},
        {"the jobs cannot be listed", [] { fakeWorld.enumJobsFails = true; },
         L"Not held in the queue (its jobs cannot be listed): each file prints as it arrives"},
        {"no right to manage an already shared queue", [] { fakeWorld.administrationDenied = true; },
         L"Not held in the queue (no right to manage it): each file prints as it arrives"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        connectPrinter();
        fakeWorld.queues = {queue(L"Vellumax 350", L"VX350", true)};
        c.world();
        std::wstring detailWhileCopying;
        fakeWorld.processScripts = {ProcessScript{}};
        fakeWorld.processScripts[0].onRun = [&] { detailWhileCopying = text(IDC_DETAIL_TEXT); };
        runUpgradeSequence(dialog);
        EXPECT_NE(detailWhileCopying.find(L"\n" + c.line + L"\n"), std::wstring::npos)
            << testing::PrintToString(detailWhileCopying);
        EXPECT_EQ(text(IDC_STATUS_TEXT), firmwareCopiedText);
        EXPECT_TRUE(eventsStartingWith(L"SetJob").empty());
        AppTest::TearDown();
    }
}

// A stall and its offer end with the copy that stalled: a 650's reboot
// wait shows the disk-file text alone, and Escape there means what the
// reboot wait says; a plot-language printer's next copy is not offered to
// be stopped for the stall of the one before.
TEST_F(Sequence, AStallEndsWithTheCopyThatStalled)
{
    const std::wstring diskFile = std::wstring(copying) + L"\nPlease wait while printer is upgrading disk file.";
    for (bool diskStaged : {true, false}) {
        SCOPED_TRACE(diskStaged ? "650, then the reboot wait" : "plot language, then the next copy");
        SetUp();
        connectPrinter(diskStaged ? "Tarnell Vellumax 650PS" : "Tarnell Vellumax 350 plus");
        fakeWorld.queues = {queue(L"Vellumax", L"VX")};
        fakeWorld.processScripts = {ProcessScript{}, ProcessScript{}};
        fakeWorld.processScripts[0].runsFor = 70000;
        std::wstring statusDuringNextCopy;
        RunPhase phaseDuringNextCopy = PhaseCreated;
        fakeWorld.processScripts[1].onRun = [&] {
            statusDuringNextCopy = text(IDC_STATUS_TEXT);
            phaseDuringNextCopy = upgradeState.phase;
        };
        answerBoxes({IDOK});

        runUpgradeSequence(dialog);
        EXPECT_EQ(fakeWorld.boxes.size(), 1u) << "only the confirmation";
        if (diskStaged) {
            EXPECT_EQ(text(IDC_STATUS_TEXT), diskFile);
            EXPECT_EQ(upgradeState.phase, PhaseRebootWait);
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            EXPECT_FALSE(IsWindow(dialog)) << "Escape in the reboot wait asked about a copy that has ended";
        } else {
            EXPECT_EQ(statusDuringNextCopy, copying);
            EXPECT_EQ(phaseDuringNextCopy, PhaseCopying);
            EXPECT_EQ(text(IDC_STATUS_TEXT), firmwareCopiedText);
        }
        AppTest::TearDown();
    }
}

// Windows ends the process once the session-end message returns: the queue
// is unshared at once, and the stage beneath sends nothing more and shows
// nothing.
TEST_F(Sequence, ASessionThatEndsDuringACopyUnsharesAtOnceAndSendsNoMore)
{
    connectPrinter("Tarnell Vellumax 350 plus");
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
    fakeWorld.queues[0].jobCounts = {0, 3};
    int terminatedWhenHandled = 0;
    std::vector<DWORD> deletedWhenHandled;
    fakeWorld.processScripts = {ProcessScript{}};
    fakeWorld.processScripts[0].onRun = [&] {
        fakeWorld.queues[0].jobIds = {4};
        EXPECT_EQ(SendMessageW(dialog, WM_QUERYENDSESSION, 0, 0), FALSE);
        SendMessageW(dialog, WM_ENDSESSION, TRUE, 0);
        terminatedWhenHandled = fakeWorld.terminatedProcesses;
        deletedWhenHandled = fakeWorld.deletedJobs;
    };
    answerBoxes({IDOK});

    runUpgradeSequence(dialog);
    EXPECT_EQ(fakeWorld.started.size(), 1u);
    EXPECT_EQ(fakeWorld.boxes.size(), 1u) << "only the confirmation";
    EXPECT_FALSE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
    EXPECT_EQ(fakeWorld.sleeps, std::vector<DWORD>{5000}) << "no wait for the jobs";
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(fakeWorld.livePowerRequests, 0);
    // The copy's interpreter is ended before the handler returns, and its
    // partial job with it: the printer must not get it after the restart.
    EXPECT_EQ(terminatedWhenHandled, 1);
    EXPECT_EQ(deletedWhenHandled, std::vector<DWORD>{4});
    EXPECT_EQ(fakeWorld.liveProcessHandles, 0);
}

}  // namespace

// The main dialog's resources and its handling of each message.
#include "app/dialog.h"
#include "app/ending.h"
#include "app/phase.h"
#include "base/wait.h"
#include "app/protection.h"
#include "app/resources/resource.h"
#include "app/sequence.h"
#include "tests/app/app_fixture.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace {

const WCHAR rebootInstructions[] =
    L"In order to continue with Firmware upgrade please follow the next steps:\n\n   1. Reboot printer.\n"
    L"   2. Wait until printer is ready.\n   3. Click Ok button to continue with upgrade.";

// Reads an extended dialog template in order.
struct TemplateReader {
    const BYTE *at;
    template <typename T>
    T take()
    {
        T value;
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    // A name or an ordinal ("#128"); empty when absent.
    std::wstring nameOrOrdinal()
    {
        WORD first = take<WORD>();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(take<WORD>());
        std::wstring name;
        for (WORD c = first; c != 0; c = take<WORD>())
            name += static_cast<WCHAR>(c);
        return name;
    }
    std::vector<short> rectangle()
    {
        std::vector<short> sides;
        for (int i = 0; i < 4; ++i)
            sides.push_back(take<short>());
        return sides;
    }
    void alignToDword(const BYTE *start) { at = start + ((at - start + 3) & ~3); }
};

const BYTE *resourceBytes(LPCWSTR type, int id)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    return found ? static_cast<const BYTE *>(LockResource(LoadResource(module, found))) : nullptr;
}

TEST_F(AppTest, WindowTemplateHasTheDesignedLayout)
{
    const BYTE *start = resourceBytes(RT_DIALOG, IDD_MAIN);
    ASSERT_NE(start, nullptr);
    TemplateReader in{start};
    EXPECT_EQ(in.take<WORD>(), 1);
    EXPECT_EQ(in.take<WORD>(), 0xFFFF);  // extended template
    in.take<DWORD>();
    EXPECT_EQ(in.take<DWORD>(), 0u);  // no extended style
    EXPECT_EQ(in.take<DWORD>(), DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
    ASSERT_EQ(in.take<WORD>(), 4);
    EXPECT_EQ(in.rectangle(), (std::vector<short>{0, 0, 491, 171}));
    EXPECT_EQ(in.nameOrOrdinal(), L"");  // no menu
    EXPECT_EQ(in.nameOrOrdinal(), L"");  // the standard dialog class
    EXPECT_EQ(in.nameOrOrdinal(), L"Tarnell Vellumax 350-650 Firmware Upgrade Tool");
    EXPECT_EQ(in.take<WORD>(), 8);
    EXPECT_EQ(in.take<WORD>(), 400);
    EXPECT_EQ(in.take<BYTE>(), 0);
    EXPECT_EQ(in.take<BYTE>(), DEFAULT_CHARSET);
    EXPECT_EQ(in.nameOrOrdinal(), L"MS Shell Dlg");

    struct Control {
        DWORD id;
        const WCHAR *windowClass;  // #128 BUTTON, #130 STATIC
        const WCHAR *text;
        short x, y, width, height;
        DWORD style;
    } expected[] = {
        {IDOK, L"#128", L"Ok", 431, 150, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {IDC_STATUS_TEXT, L"#130", L"Select a Printer to install FW", 57, 28, 390, 52,
         WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
        {IDC_PROGRESS, L"msctls_progress32", L"", 77, 81, 331, 12, WS_CHILD | WS_BORDER},
        // Its lines never wrap: a wrapped line would push the last ones out of sight.
        {IDC_DETAIL_TEXT, L"#130", L"", 59, 102, 367, 54,
         WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX},
    };
    for (const Control &control : expected) {
        SCOPED_TRACE(control.id);
        in.alignToDword(start);
        in.take<DWORD>();
        EXPECT_EQ(in.take<DWORD>(), 0u);
        EXPECT_EQ(in.take<DWORD>(), control.style);
        EXPECT_EQ(in.rectangle(), (std::vector<short>{control.x, control.y, control.width, control.height}));
        EXPECT_EQ(in.take<DWORD>(), control.id);
        // The resource compiler stores class names upper-case; Windows looks
        // them up without regard to case.
        EXPECT_EQ(_wcsicmp(in.nameOrOrdinal().c_str(), control.windowClass), 0);
        EXPECT_EQ(in.nameOrOrdinal(), control.text);
        in.at += in.take<WORD>();
    }
}

// The three groups share one stored image (a copy each would make the
// program a third larger); each must still load at the sizes the system and
// the dialog ask for.
TEST_F(AppTest, IconsAreOneSharedLargeFullColourImageThatLoadsAtEverySize)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(IDR_ICON_IMAGE), RT_ICON);
    ASSERT_NE(image, nullptr);
    for (int id : {IDI_APP, IDI_APP_ALT, IDI_SMALL}) {
        SCOPED_TRACE(id);
        const BYTE *group = resourceBytes(RT_GROUP_ICON, id);
        ASSERT_NE(group, nullptr);
        WORD count;
        std::memcpy(&count, group + 4, sizeof count);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(group[6], 128);  // width
        EXPECT_EQ(group[7], 128);  // height
        WORD bitsPerPixel;
        std::memcpy(&bitsPerPixel, group + 6 + 6, sizeof bitsPerPixel);
        EXPECT_EQ(bitsPerPixel, 32);
        DWORD bytes;
        std::memcpy(&bytes, group + 6 + 8, sizeof bytes);
        EXPECT_EQ(bytes, SizeofResource(module, image));
        WORD imageId;
        std::memcpy(&imageId, group + 6 + 12, sizeof imageId);
        EXPECT_EQ(imageId, IDR_ICON_IMAGE);

        for (int size : {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CXICON), 48, 128}) {
            HICON icon = static_cast<HICON>(
                LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
            EXPECT_NE(icon, nullptr) << size;
            ICONINFO info = {};
            if (icon && GetIconInfo(icon, &info)) {
                BITMAP bitmap = {};
                GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
                EXPECT_EQ(bitmap.bmWidth, size);
                DeleteObject(info.hbmColor);
                DeleteObject(info.hbmMask);
            }
            if (icon)
                DestroyIcon(icon);
        }
    }
}

TEST_F(AppTest, NewWindowKnowsItsControlsAndComputerAndHasItsSmallIcon)
{
    ASSERT_NE(createDialog(), nullptr);
    EXPECT_EQ(upgradeState.statusText, control(IDC_STATUS_TEXT));
    EXPECT_EQ(upgradeState.detailText, control(IDC_DETAIL_TEXT));
    EXPECT_FALSE(IsWindowVisible(dialog));
    WCHAR barClass[64];
    GetClassNameW(control(IDC_PROGRESS), barClass, ARRAYSIZE(barClass));
    EXPECT_STREQ(barClass, PROGRESS_CLASSW);

    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = ARRAYSIZE(name);
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_STREQ(upgradeState.computerName, name);

    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_EQ(takePostedStarts(), 0);
}

TEST_F(AppTest, RunStartsOnceOnTheFirstShow)
{
    ASSERT_NE(createDialog(), nullptr);
    SetWindowPos(dialog, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(takePostedStarts(), 0) << "a move is not a show";

    ShowWindow(dialog, SW_SHOWNORMAL);
    EXPECT_EQ(takePostedStarts(), 1);
    EXPECT_EQ(upgradeState.phase, PhaseStarting);

    ShowWindow(dialog, SW_HIDE);
    ShowWindow(dialog, SW_SHOWNORMAL);
    EXPECT_EQ(takePostedStarts(), 0) << "the run starts once per process";
}

TEST_F(AppTest, EscapeAndCloseUnshareAQueueTheToolSharedBeforeTheWindowGoes)
{
    struct Case {
        UINT message;
        WPARAM wParam;
        bool toolShared;
        // The session ends during the wait for the jobs, and its unshare is
        // refused: Windows ends the process, and no box may follow.
        bool sessionEnds;
    } cases[] = {{WM_COMMAND, IDCANCEL, false, false}, {WM_COMMAND, IDCANCEL, true, false},
                 {WM_CLOSE, 0, false, false},          {WM_CLOSE, 0, true, false},
                 {WM_COMMAND, IDCANCEL, true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "message " << c.message << ", tool shared " << c.toolShared
                                        << ", session ends " << c.sessionEnds);
        startOver();
        ASSERT_NE(createDialog(), nullptr);
        fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
        fakeWorld.queues[0].jobCounts = {1, 0};
        if (c.sessionEnds)
            fakeWorld.queues[0].jobCounts = {1, 1, 0};
        if (c.toolShared)
            sharedByTheTool();
        upgradeState.phase = PhaseFinished;
        bool openWhileJobsPrint = false;
        fakeWorld.onSleep = [&](DWORD) {
            openWhileJobsPrint = IsWindow(dialog);
            if (c.sessionEnds && fakeWorld.sleeps.size() == 1) {
                fakeWorld.setFails = true;
                PostMessageW(dialog, WM_QUERYENDSESSION, 0, 0);
                PostMessageW(dialog, WM_ENDSESSION, TRUE, 0);
            }
        };

        EXPECT_EQ(mainDialogProc(dialog, c.message, c.wParam, 0), TRUE);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(fakeWorld.writes.size(), c.toolShared ? 1u : 0u) << "restored once, and only when due";
        EXPECT_EQ(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED, c.sessionEnds ? 8u : 0u);
        EXPECT_TRUE(fakeWorld.boxes.empty());
        EXPECT_EQ(openWhileJobsPrint, c.toolShared);
        EXPECT_TRUE(takeQuit());
    }
}

TEST_F(AppTest, EscapeTriesARestoreThatStoppedShortOnceMore)
{
    ASSERT_NE(createDialog(), nullptr);
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
    sharedByTheTool();
    upgradeState.phase = PhaseFinished;
    fakeWorld.openFails = true;

    mainDialogProc(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(fakeWorld.openedNames.size(), 2u);
    EXPECT_EQ(upgradeState.sharedByTool, 1);
    EXPECT_FALSE(IsWindow(dialog));
    // The final text can no longer say it: the last box does.
    ASSERT_EQ(fakeWorld.boxes.size(), 1u);
    EXPECT_EQ(fakeWorld.boxes[0].text, L"The printer Vellumax 350 is still shared as VX350: the tool could not stop "
                                       L"sharing it. Stop sharing it in the printer's properties.");
    EXPECT_EQ(fakeWorld.boxes[0].caption, L"Firmware Upgrade Error");
}

// The line that says the queue is still shared is never cut: where the
// stopped box has no room left for it, it comes whole in a box of its own.
TEST_F(AppTest, AStillSharedLineThatDoesNotFitComesInABoxOfItsOwn)
{
    ASSERT_NE(createDialog(), nullptr);
    const std::wstring longQueue(250, L'Q'), longShare(250, L'S');
    fakeWorld.queues = {queue(longQueue.c_str(), longShare.c_str())};
    sharedByTheTool();
    upgradeState.firmwareKind = FirmwarePlotLanguage;
    upgradeState.phase = PhaseStopping;
    upgradeState.copyUnfinished = 1;
    upgradeState.jobsNoted = 1;
    fakeWorld.queues[0].jobIds = {8};
    fakeWorld.setFails = true;

    endRun(dialog, EndCopyStopped);
    const std::wstring stillShared = L"The printer " + longQueue + L" is still shared as " + longShare +
                                     L": the tool could not stop sharing it. Stop sharing it in the printer's "
                                     L"properties.";
    ASSERT_EQ(fakeWorld.boxes.size(), 2u);
    EXPECT_EQ(fakeWorld.boxes[0].text.find(L"still shared"), std::wstring::npos);
    EXPECT_EQ(fakeWorld.boxes[0].text.substr(fakeWorld.boxes[0].text.size() - 18), L"VX350_A.05.01.fmw.")
        << "the stopped box lost its last line";
    EXPECT_EQ(fakeWorld.boxes[1].text, stillShared);
}

// A failure deep inside a copy (here an allocation) ends the run through
// the dialog procedure, with a box, the sharing put back and no window left.
// When that end fails in turn (the job list cannot grow), the sharing still
// goes back at once and the window goes, and the box says that the partial
// job may still be in the queue.
TEST_F(AppTest, AnExceptionInsideARunEndsItWithABoxAndUnshares)
{
    for (bool endFails : {false, true}) {
        SCOPED_TRACE(endFails ? "the end fails too" : "the end works");
        startOver();
        connectPrinter();
        provideFirmwareFiles();
        ASSERT_NE(createDialog(), nullptr);
        fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
        // Not held, and the copy's job is the one scripted here.
        fakeWorld.pauseFails = true;
        fakeWorld.copiesMakeJobs = false;
        fakeWorld.queues[0].jobIds = {5};
        fakeWorld.processScripts = {ProcessScript{}};
        bool failed = false;
        fakeWorld.processScripts[0].onRun = [&] {
            fakeWorld.queues[0].jobIds.push_back(6);
            failed = true;
            throw std::bad_alloc();
        };
        fakeWorld.onEnumJobs = [&] {
            if (failed && endFails)
                throw std::bad_alloc();
        };
        upgradeState.phase = PhaseStarting;
        // A log-off while the box is open ends the process when the box's loop
        // hands it WM_ENDSESSION: the queue must be unshared by then.
        bool sharedDuringBox = true;
        fakeWorld.onBox = [&](const ShownBox &) {
            sharedDuringBox = fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED;
            return IDOK;
        };

        EXPECT_EQ(mainDialogProc(dialog, WM_APP, 0, 0), TRUE);
        EXPECT_FALSE(sharedDuringBox);
        EXPECT_EQ(fakeWorld.terminatedProcesses, 1) << "the copy left running";
        const std::wstring failure = L"An unexpected error has stopped the upgrade tool.\nThe printer firmware may "
                                     L"not have been updated completely.";
        ASSERT_EQ(fakeWorld.boxes.size(), 2u);
        EXPECT_EQ(fakeWorld.boxes[1].caption, L"Firmware Upgrade Error");
        if (endFails) {
            EXPECT_EQ(fakeWorld.boxes[1].text, failure + L"\nThe print queue Vellumax 350 may still hold the rest of "
                                                         L"it: delete that document in the queue's window before you "
                                                         L"switch the printer off and on.");
        } else {
            EXPECT_EQ(fakeWorld.deletedJobs, std::vector<DWORD>{6}) << "the cut-short copy's job left in the queue";
            EXPECT_EQ(fakeWorld.boxes[1].text, failure);
        }
        EXPECT_FALSE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
        EXPECT_EQ(fakeWorld.writes.size(), 2u) << "shared, then unshared";
        EXPECT_EQ(upgradeState.phase, PhaseClosing);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_TRUE(upgradeState.heldFirmware.empty()) << "a firmware file held after the end";
        EXPECT_TRUE(takeQuit());
    }
}

// The last way out still ends a copy in flight (its wait may be what
// failed beneath) and names the sharing it could not take back.
TEST_F(AppTest, TheLastWayOutEndsTheCopyInFlightAndSaysWhatItCouldNotGiveBack)
{
    ASSERT_NE(createDialog(), nullptr);
    fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
    sharedByTheTool();
    fakeWorld.setFails = true;
    fakeWorld.processScripts = {ProcessScript{}};
    fakeWorld.processScripts[0].runsFor = 600000;
    SHELLEXECUTEINFOW copy = {};
    copy.cbSize = sizeof(copy);
    copy.fMask = SEE_MASK_NOCLOSEPROCESS;
    copy.lpFile = L"cmd.exe";
    ASSERT_TRUE(ShellExecuteExW(&copy));
    upgradeState.copyProcess = copy.hProcess;
    upgradeState.phase = PhaseCopying;
    // The stage is held: a file's job is in the paused queue.
    fakeWorld.queues[0].status = PRINTER_STATUS_PAUSED;
    fakeWorld.queues[0].jobIds = {100};
    upgradeState.queueHeld = 1;
    upgradeState.heldJobs = {{L"VX355KPLOT_A.04.02.fmw", 100, 8}};
    bool pausedDuringBox = false;
    fakeWorld.onBox = [&](const ShownBox &) {
        pausedDuringBox = fakeWorld.queues[0].status & PRINTER_STATUS_PAUSED;
        return IDOK;
    };

    endRunAtOnce(dialog);
    CloseHandle(copy.hProcess);
    EXPECT_EQ(fakeWorld.terminatedProcesses, 1) << "the copy left running";
    EXPECT_EQ(fakeWorld.deletedJobs, std::vector<DWORD>{100});
    EXPECT_TRUE(pausedDuringBox) << "the copy's own job could print before the user looked";
    EXPECT_FALSE(fakeWorld.queues[0].status & PRINTER_STATUS_PAUSED) << "the queue left paused";
    ASSERT_EQ(fakeWorld.boxes.size(), 1u);
    EXPECT_EQ(fakeWorld.boxes[0].text,
              L"An unexpected error has stopped the upgrade tool.\nThe printer firmware may not have been updated "
              L"completely.\nThe printer received nothing of this stage: it was held in the print queue Vellumax 350, and the tool deleted its firmware documents "
              L"there.\nThe queue stays paused until you press Ok. Before that, open its window and delete every "
              L"document you sent during the upgrade that is still there: it may hold part of a firmware file.\nRun "
              L"the upgrade again; there is no need to switch the printer off and on.\nThe printer Vellumax 350 is "
              L"still shared as VX350: the tool could not stop sharing it. Stop sharing it in the printer's "
              L"properties.");
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(takeQuit());
}

TEST_F(AppTest, OtherCommandsChangeNothing)
{
    ASSERT_NE(createDialog(), nullptr);
    upgradeState.firmwareKind = FirmwareDiskStaged;
    for (WORD id : {0, 3, IDC_STATUS_TEXT, IDC_DETAIL_TEXT, IDC_PROGRESS}) {
        EXPECT_EQ(mainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0), FALSE) << id;
    }
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(text(IDC_STATUS_TEXT), L"Select a Printer to install FW");
    EXPECT_TRUE(fakeWorld.events.empty());
    EXPECT_FALSE(takeQuit());
}

// What each message does in each phase, as the user or the system would
// notice it. Every cell is played on a fresh dialog whose queue the tool has
// shared (so closing waits for a job to print) and whose printer is a 650.
TEST_F(AppTest, EachMessageDoesWhatThePhaseSaysAndNothingElse)
{
    const RunAction o = Ignore, C = CloseTool, S2 = SendSecondStage, R = RunSequence, T = StepRebootWait,
                    OC = OfferStopCopy, WC = WithdrawStopCopy, OW = OfferStopWaiting, AC = AskStopCopy,
                    AW = AskStopWaiting, y = AllowShutdown, n = RefuseShutdown, E = EndAtOnce;
    const RunAction expected[phaseCount][messageCount] = {
        //           Ok  Leave Start Tick Stall Over Query End
        /* Created     */ {o, o, o, o, o, o, y, o},
        /* Starting    */ {C, C, R, o, o, o, y, o},
        /* Searching   */ {o, o, o, o, o, o, y, o},
        /* Asking      */ {o, o, o, o, o, o, y, o},
        /* Copying     */ {o, o, o, o, OC, o, n, E},
        /* CopyStalled */ {o, AC, o, o, o, WC, n, E},
        /* RebootWait  */ {o, C, o, T, o, o, n, E},
        /* RebootReady */ {S2, C, o, o, o, o, n, E},
        /* Restoring   */ {o, o, o, o, OW, o, n, E},
        /* DrainStalled*/ {o, AW, o, o, o, o, n, E},
        /* AskingToStop*/ {o, o, o, o, o, o, n, E},
        /* Stopping    */ {o, o, o, o, o, WC, n, E},
        /* Finished    */ {C, C, o, o, o, o, y, E},
        /* Closing     */ {o, o, o, o, o, o, y, o},
    };
    const std::wstring stallLine = L"\nThe copy to the printer has not finished for a minute. Press Esc to stop "
                                   L"the upgrade.";
    for (int phase = 0; phase < phaseCount; ++phase) {
        for (int column = 0; column < messageCount; ++column) {
            // Leave is both Escape and the close box.
            for (UINT leave : {UINT(WM_COMMAND), UINT(WM_CLOSE)}) {
                if (column != MessageLeave && leave == WM_CLOSE)
                    continue;
                SCOPED_TRACE(testing::Message() << "phase " << phase << ", message " << column
                                                << (leave == WM_CLOSE ? " (close box)" : ""));
                startOver();
                disconnectPrinter();
                ASSERT_NE(createDialog(), nullptr);
                fakeWorld.queues = {queue(L"Vellumax 650", L"VX650")};
                fakeWorld.queues[0].jobCounts = {1, 0};
                sharedByTheTool();
                upgradeState.firmwareKind = FirmwareDiskStaged;
                upgradeState.phase = static_cast<RunPhase>(phase);
                // The stall's end finds the line its stall added.
                const std::wstring status = column == MessageStallOver ? L"Status" + stallLine : L"Status";
                SetWindowTextW(control(IDC_STATUS_TEXT), status.c_str());
                fakeWorld.boxAnswers = {IDNO, IDCANCEL};
                SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 7);
                // The reboot wait's timer runs; any way out stops it before
                // waiting for the queue.
                if (phase == PhaseRebootWait)
                    SetTimer(dialog, IDT_REBOOT_WAIT, 1800, nullptr);
                bool timerRunningAtFirstSleep = false;
                fakeWorld.onSleep = [&](DWORD) {
                    if (fakeWorld.sleeps.size() == 1)
                        timerRunningAtFirstSleep = KillTimer(dialog, IDT_REBOOT_WAIT);
                };

                LRESULT result = 0;
                switch (column) {
                case MessageOk: result = SendMessageW(dialog, WM_COMMAND, IDOK, 0); break;
                case MessageLeave: result = SendMessageW(dialog, leave, leave == WM_COMMAND ? IDCANCEL : 0, 0); break;
                case MessageStart: result = SendMessageW(dialog, WM_APP, 0, 0); break;
                case MessageTick: result = SendMessageW(dialog, WM_TIMER, IDT_REBOOT_WAIT, 0); break;
                case MessageStall: result = SendMessageW(dialog, stallMessage, 0, 0); break;
                case MessageStallOver: result = SendMessageW(dialog, stallOverMessage, 0, 0); break;
                case MessageQueryEndSession: result = SendMessageW(dialog, WM_QUERYENDSESSION, 0, 0); break;
                case MessageEndSession: result = SendMessageW(dialog, WM_ENDSESSION, TRUE, 0); break;
                }

                RunAction seen = Ignore;
                const std::wstring shown = IsWindow(dialog) ? text(IDC_STATUS_TEXT) : L"";
                const bool unshared = !(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
                if (column == MessageQueryEndSession)
                    seen = result == TRUE ? AllowShutdown : result == FALSE ? RefuseShutdown : Ignore;
                else if (!fakeWorld.sleeps.empty() && fakeWorld.sleeps[0] == 5000)
                    seen = RunSequence;
                else if (!IsWindow(dialog) && unshared)
                    seen = fakeWorld.sleeps == std::vector<DWORD>{1000} ? CloseTool : EndAtOnce;
                else if (fakeWorld.started.size() == 2 && unshared)
                    seen = SendSecondStage;
                else if (SendMessageW(control(IDC_PROGRESS), PBM_GETPOS, 0, 0) == 1)
                    seen = StepRebootWait;
                else if (column != MessageStallOver && shown == L"Status" + stallLine)
                    seen = OfferStopCopy;
                else if (shown.find(L"Press Esc to stop waiting") != std::wstring::npos)
                    seen = OfferStopWaiting;
                // A stop the user chose stays chosen when the line goes.
                else if (column == MessageStallOver && shown == L"Status" &&
                         upgradeState.phase == (phase == PhaseStopping ? PhaseStopping : PhaseCopying))
                    seen = WithdrawStopCopy;
                else if (fakeWorld.boxes.size() == 1 && fakeWorld.boxes[0].owner == dialog)
                    seen = fakeWorld.boxes[0].text.find(L"Stop the upgrade?") != std::wstring::npos ? AskStopCopy
                                                                                                    : AskStopWaiting;
                EXPECT_EQ(seen, expected[phase][column]);
                if (seen == AskStopCopy || seen == AskStopWaiting) {
                    EXPECT_TRUE(fakeWorld.boxes[0].type & MB_DEFBUTTON2) << "Enter would stop unread";
                }
                if (phase == PhaseRebootWait && seen == CloseTool) {
                    EXPECT_FALSE(timerRunningAtFirstSleep) << "the reboot wait went on while the queue printed";
                }
                if (seen == Ignore && column != MessageQueryEndSession) {
                    EXPECT_TRUE(IsWindow(dialog));
                    EXPECT_EQ(shown, status);
                    EXPECT_TRUE(fakeWorld.events.empty());
                    EXPECT_EQ(upgradeState.phase, phase);
                }
                if (IsWindow(dialog))
                    DestroyWindow(dialog);
                takeQuit();
            }
        }
    }
}

TEST_F(AppTest, RebootWaitFillsTheBarInAHundredTicksAndShowsTheStepsOnTheNext)
{
    ASSERT_NE(createDialog(), nullptr);
    HWND bar = control(IDC_PROGRESS);
    EnableWindow(control(IDOK), FALSE);
    ShowWindow(bar, SW_SHOW);
    SetTimer(dialog, IDT_REBOOT_WAIT, 1800, nullptr);
    SetWindowTextW(control(IDC_STATUS_TEXT), L"disk file");
    upgradeState.phase = PhaseRebootWait;

    for (int tick = 1; tick <= 100; ++tick)
        EXPECT_EQ(mainDialogProc(dialog, WM_TIMER, IDT_REBOOT_WAIT, 0), FALSE);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(text(IDC_STATUS_TEXT), L"disk file");
    EXPECT_FALSE(IsWindowEnabled(control(IDOK)));
    EXPECT_TRUE(GetWindowLongW(bar, GWL_STYLE) & WS_VISIBLE);

    mainDialogProc(dialog, WM_TIMER, IDT_REBOOT_WAIT, 0);
    EXPECT_EQ(text(IDC_STATUS_TEXT), rebootInstructions);
    EXPECT_TRUE(IsWindowEnabled(control(IDOK)));
    EXPECT_FALSE(GetWindowLongW(bar, GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(KillTimer(dialog, IDT_REBOOT_WAIT)) << "the timer should have been stopped";
}

// The second stage's error box has no owner, so its modal loop still
// delivers the dialog's Ok, Escape and close. After the box the sharing goes
// back, the window still open while the queue prints.
TEST_F(AppTest, AFailedSecondStageCopyIsReportedThenUnsharesBeforeTheWindowGoes)
{
    ASSERT_NE(createDialog(), nullptr);
    fakeWorld.queues = {queue(L"Vellumax 650", L"VX650")};
    fakeWorld.queues[0].jobCounts = {1, 0};
    sharedByTheTool();
    upgradeState.firmwareKind = FirmwareDiskStaged;
    upgradeState.phase = PhaseRebootReady;
    fakeWorld.processScripts = {ProcessScript{}};
    fakeWorld.processScripts[0].waitResult = WAIT_FAILED;
    int openDuringBox = 0;
    fakeWorld.onBox = [&](const ShownBox &) {
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        SendMessageW(dialog, WM_CLOSE, 0, 0);
        openDuringBox = IsWindow(dialog);
        return IDOK;
    };
    bool openWhileUnsharing = false;
    fakeWorld.onSleep = [&](DWORD) { openWhileUnsharing = IsWindow(dialog) != FALSE; };

    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(openDuringBox);
    EXPECT_EQ(fakeWorld.boxes.size(), 1u);
    EXPECT_EQ(fakeWorld.started.size(), 1u) << "no second stage inside the second stage";
    EXPECT_TRUE(openWhileUnsharing);
    EXPECT_FALSE(IsWindow(dialog)) << "the failed copy ends the tool";
    EXPECT_EQ(fakeWorld.writes.size(), 1u) << "sharing restored once";
}

TEST_F(AppTest, WithoutAPowerRequestTheSystemIsKeptAwakeByTheExecutionState)
{
    ASSERT_NE(createDialog(), nullptr);
    fakeWorld.powerRequestFails = true;
    beginFirmwareInFlight(dialog);
    endFirmwareInFlight(dialog);
    EXPECT_EQ(eventsStartingWith(L"SetThreadExecutionState"),
              (std::vector<std::wstring>{L"SetThreadExecutionState 0x80000001", L"SetThreadExecutionState 0x80000000"}));
}

// A printer that is off never takes its jobs: after a minute without a job
// leaving, Escape asks whether to stop waiting; only a yes stops, and No is
// the default. The wait comes after the last copy, or after Escape once the
// run is over; either way a stop ends the tool, and an unshare refused then
// is said in a box instead of leaving a window that cannot be closed.
TEST_F(AppTest, AQueueThatDoesNotDrainCanBeLeftAfterAMinute)
{
    struct Case {
        const char *name;
        int answer;
        bool afterTheLastCopy;
        bool unshareRefused;
    } cases[] = {
        {"go on", IDNO, false, false},
        {"stop", IDYES, false, false},
        {"stop after the last copy", IDYES, true, false},
        {"stop, unshare refused", IDYES, false, true},
        {"stop after the last copy, unshare refused", IDYES, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        startOver();
        ASSERT_NE(createDialog(), nullptr);
        fakeWorld.queues = {queue(L"Vellumax 350", L"VX350")};
        // Three jobs, one printed at once, then none for much longer than a
        // minute; after the answer no the printer comes back.
        fakeWorld.queues[0].jobCounts = std::vector<DWORD>(200, 2);
        fakeWorld.queues[0].jobCounts[0] = 3;
        fakeWorld.queues[0].jobCounts.push_back(0);
        sharedByTheTool();
        upgradeState.phase = c.afterTheLastCopy ? PhaseCopying : PhaseFinished;
        if (c.afterTheLastCopy)
            beginFirmwareInFlight(dialog);
        SetWindowTextW(control(IDC_STATUS_TEXT), L"Copying");
        fakeWorld.boxAnswers = {c.answer};
        fakeWorld.setFails = c.unshareRefused;
        std::wstring statusAtOffer;
        fakeWorld.onSleep = [&](DWORD) {
            size_t polls = fakeWorld.sleeps.size();
            // Escape as the wait's own dispatching meets it; before the offer
            // it means nothing.
            if (polls == 30 || polls == 62)
                PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
            if (polls == 62)
                statusAtOffer = text(IDC_STATUS_TEXT);
        };

        if (c.afterTheLastCopy)
            finishRun(dialog);
        else
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(statusAtOffer, L"Copying\nWaiting for the printer to take the firmware from the print queue. "
                                 L"Press Esc to stop waiting.");
        ASSERT_GE(fakeWorld.boxes.size(), 1u);
        EXPECT_EQ(fakeWorld.boxes[0].owner, dialog);
        EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
        EXPECT_EQ(fakeWorld.sleeps.size(), c.answer == IDYES ? 62u : 200u);
        EXPECT_EQ(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED, c.unshareRefused ? 8u : 0u);
        if (c.unshareRefused) {
            ASSERT_EQ(fakeWorld.boxes.size(), 2u);
            EXPECT_EQ(fakeWorld.boxes[1].text, L"The printer Vellumax 350 is still shared as VX350: the tool could "
                                               L"not stop sharing it. Stop sharing it in the printer's properties.");
        } else {
            EXPECT_EQ(fakeWorld.boxes.size(), 1u) << "asked once, at the Escape after the offer";
        }
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(fakeWorld.livePowerRequests, 0) << "the computer kept awake after the end";
        takeQuit();
    }
}

// The second tool must not start a run of its own beside the first: it finds
// the first tool's window and brings it back for the user.
TEST_F(AppTest, ASecondToolBringsTheFirstBackInsteadOfStarting)
{
    ASSERT_NE(createDialog(), nullptr);
    ShowWindow(dialog, SW_SHOWMINNOACTIVE);
    takePostedStarts();
    ASSERT_TRUE(IsIconic(dialog));
    EXPECT_TRUE(claimSingleInstance()) << "the first tool of this prefix";
    EXPECT_FALSE(claimSingleInstance());
    EXPECT_FALSE(IsIconic(dialog));
    EXPECT_TRUE(fakeWorld.boxes.empty());

    // The lock held, no window to be found: another session, perhaps the
    // same user's.
    DestroyWindow(dialog);
    EXPECT_FALSE(claimSingleInstance());
    ASSERT_EQ(fakeWorld.boxes.size(), 1u);
    EXPECT_EQ(fakeWorld.boxes[0].text, L"A firmware upgrade is already running in another session on this "
                                       L"computer.\nThis one cannot start until it ends.");
    // No window to own it: task-modal, in front.
    EXPECT_EQ(fakeWorld.boxes[0].owner, nullptr);
    EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_OK | MB_ICONINFORMATION | MB_TASKMODAL | MB_SETFOREGROUND));
}

// The design's refusal of a change it does not allow is what the fixture
// counts: it must be seen to work, or a table that strands a run would pass.
TEST_F(AppTest, APhaseChangeTheDesignDoesNotAllowIsRefusedAndCounted)
{
    ASSERT_NE(createDialog(), nullptr);
    const RunPhase refused[][2] = {
        {PhaseStopping, PhaseCopying}, {PhaseCreated, PhaseCopying}, {PhaseFinished, PhaseCopying}};
    for (const auto &change : refused) {
        SCOPED_TRACE(testing::Message() << change[0] << " to " << change[1]);
        upgradeState.phase = change[0];
        upgradeState.refusedPhaseChanges = 0;
        EXPECT_FALSE(enterPhase(change[1]));
        EXPECT_EQ(upgradeState.phase, change[0]);
        EXPECT_EQ(upgradeState.refusedPhaseChanges, 1);
        EXPECT_TRUE(fakeWorld.events.empty()) << "a refused change kept the computer awake";
    }
    upgradeState.refusedPhaseChanges = 0;
}

// How each phase is meant to be left when the user wants out. In the phases
// where Ok, Escape and the close box mean nothing, something is in flight
// that must finish first (the search, a box, a copy, the queue's jobs, a
// stop) and moves the run on by itself; in every other phase one of them
// ends the tool or asks whether to stop.
enum PhaseExit { ExitByUser, ExitByWork };
constexpr PhaseExit phaseExits[phaseCount] = {
    /* Created      */ ExitByWork,  // the show that follows starts the run
    /* Starting     */ ExitByUser,
    /* Searching    */ ExitByWork,
    /* Asking       */ ExitByWork,
    /* Copying      */ ExitByWork,  // a minute without an end makes it CopyStalled
    /* CopyStalled  */ ExitByUser,
    /* RebootWait   */ ExitByUser,
    /* RebootReady  */ ExitByUser,
    /* Restoring    */ ExitByWork,  // a minute without a job printed makes it DrainStalled
    /* DrainStalled */ ExitByUser,
    /* AskingToStop */ ExitByWork,
    /* Stopping     */ ExitByWork,
    /* Finished     */ ExitByUser,
    /* Closing      */ ExitByWork,
};

// No phase leaves the user without a way to close the tool once nothing is
// in flight: Ok, Escape or the close box ends it (a question to stop
// answered Yes), or the phase it comes to has something in flight that the
// table says must finish first. Played on a run whose queue the tool shared,
// with nothing beneath.
TEST_F(AppTest, EveryPhaseHasAWayOut)
{
    for (int phase = 0; phase < phaseCount; ++phase) {
        SCOPED_TRACE(testing::Message() << "phase " << phase);
        bool ended = false;
        RunPhase reached = static_cast<RunPhase>(phase);
        for (int way = 0; way < 3; ++way) {
            startOver();
            ASSERT_NE(createDialog(), nullptr);
            fakeWorld.queues = {queue(L"Vellumax 650", L"VX650")};
            sharedByTheTool();
            upgradeState.firmwareKind = FirmwareDiskStaged;
            upgradeState.upgradeFinished = 1;
            upgradeState.phase = static_cast<RunPhase>(phase);
            fakeWorld.boxAnswers = {IDYES};
            if (way == 2)
                SendMessageW(dialog, WM_CLOSE, 0, 0);
            else
                SendMessageW(dialog, WM_COMMAND, way == 0 ? IDOK : IDCANCEL, 0);
            if (!IsWindow(dialog)) {
                ended = true;
                EXPECT_FALSE(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED);
            } else if (upgradeState.phase != phase) {
                reached = upgradeState.phase;
            }
            takeQuit();
        }
        if (ended)
            EXPECT_EQ(phaseExits[phase], ExitByUser) << "the table says something must finish first";
        else
            EXPECT_EQ(phaseExits[reached], ExitByWork) << "nothing ends the tool and nothing in flight is to";
    }
}

}  // namespace

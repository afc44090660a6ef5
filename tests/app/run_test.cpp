// The whole tool in process: entry, message loop, start message and exit
// code, with the user's answers scripted.
#include "app/dialog.h"
#include "tests/app/app_fixture.h"

#include <functional>

namespace {

enum class Then { Nothing, Ok, Escape, CloseBox };

struct WayOut {
    const char *name;
    std::function<void()> world;
    std::vector<int> answers;
    Then then;  // what the user does once the run waits for them
    size_t copies;
};

// A run that never ends would otherwise hang the suite.
VOID CALLBACK giveUp(HWND, UINT, UINT_PTR, DWORD)
{
    PostQuitMessage(99);
}

Then pendingAct = Then::Nothing;

// The user acts once the tool waits for them: input made while it copies or
// waits is not acted on (a test of its own shows that).
VOID CALLBACK actWhenIdle(HWND, UINT, UINT_PTR timer, DWORD)
{
    if ((upgradeState.phase != PhaseFinished && upgradeState.phase != PhaseRebootWait) ||
        pendingAct == Then::Nothing || fakeWorld.boxes.empty())
        return;
    KillTimer(nullptr, timer);
    Then then = pendingAct;
    pendingAct = Then::Nothing;
    HWND window = upgradeState.mainDialog;
    if (then == Then::Ok)
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    else if (then == Then::Escape)  // through IsDialogMessageW, as a key press
        PostMessageW(GetDlgItem(window, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    else if (then == Then::CloseBox)
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

TEST_F(AppTest, EveryWayOutEndsTheToolWithExitCodeZero)
{
    auto printerWithQueue = [](const char *model) {
        return [model] {
            connectPrinter(model);
            fakeWorld.queues = {queue(L"Vellumax", L"VX")};
        };
    };
    const WayOut waysOut[] = {
        {"search given up", [] {}, {IDCANCEL}, Then::Nothing, 0},
        {"no queue", [] { connectPrinter(); }, {}, Then::Nothing, 0},
        {"declined, then Ok", printerWithQueue("Tarnell Vellumax 350"), {IDCANCEL}, Then::Ok, 0},
        {"done, then Ok", printerWithQueue("Tarnell Vellumax 350"), {IDOK}, Then::Ok, 1},
        {"done, then Escape", printerWithQueue("Tarnell Vellumax 350 plus"), {IDOK}, Then::Escape, 3},
        {"done, then the close box", printerWithQueue("Tarnell Vellumax 350"), {IDOK}, Then::CloseBox, 1},
        {"sharing refused",
         [&] {
             printerWithQueue("Tarnell Vellumax 350")();
             fakeWorld.setFails = true;
         },
         {IDOK},
         Then::Nothing,
         0},
        {"copy failed",
         [&] {
             printerWithQueue("Tarnell Vellumax 350")();
             fakeWorld.processScripts = {ProcessScript{}};
             fakeWorld.processScripts[0].startFails = true;
         },
         {IDOK},
         Then::Nothing,
         1},
        {"reboot wait, then Escape", printerWithQueue("Tarnell Vellumax 650PS"), {IDOK}, Then::Escape, 1},
    };
    for (const WayOut &way : waysOut) {
        SCOPED_TRACE(way.name);
        startOver();
        disconnectPrinter();
        provideFirmwareFiles();
        way.world();
        fakeWorld.boxAnswers.assign(way.answers.begin(), way.answers.end());
        pendingAct = way.then;
        UINT_PTR actor = SetTimer(nullptr, 0, 50, actWhenIdle);
        fakeWorld.onBox = [&](const ShownBox &) {
            int answer = fakeWorld.boxAnswers.empty() ? IDOK : fakeWorld.boxAnswers.front();
            if (!fakeWorld.boxAnswers.empty())
                fakeWorld.boxAnswers.pop_front();
            return answer;
        };
        bool shownBeforeTheSearch = false;
        fakeWorld.onSleep = [&](DWORD) {
            if (fakeWorld.sleeps.size() == 1)
                shownBeforeTheSearch = IsWindowVisible(upgradeState.mainDialog);
        };
        UINT_PTR safety = SetTimer(nullptr, 0, 20000, giveUp);

        EXPECT_EQ(runMainDialog(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE), 0);
        KillTimer(nullptr, safety);
        KillTimer(nullptr, actor);
        EXPECT_TRUE(shownBeforeTheSearch);
        EXPECT_FALSE(IsWindow(upgradeState.mainDialog));
        EXPECT_EQ(fakeWorld.started.size(), way.copies);
        for (const FakeQueue &queue : fakeWorld.queues)
            EXPECT_FALSE(queue.attributes & PRINTER_ATTRIBUTE_SHARED) << "sharing left behind";
    }
}

TEST_F(AppTest, AWindowThatCannotBeCreatedIsReportedWithExitCodeOne)
{
    // A module without the dialog template.
    EXPECT_EQ(runMainDialog(GetModuleHandleW(L"kernel32.dll"), SW_SHOWNORMAL), 1);
    ASSERT_EQ(fakeWorld.boxes.size(), 1u);
    EXPECT_EQ(fakeWorld.boxes[0].owner, nullptr);
    EXPECT_EQ(fakeWorld.boxes[0].type, UINT(MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND));
    EXPECT_FALSE(takeQuit());
}

}  // namespace

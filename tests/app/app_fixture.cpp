#include "tests/app/app_fixture.h"
#include "tests/doubles/fresh_run.h"

#include "app/dialog.h"
#include "app/resources/resource.h"
#include "base/system_libraries.h"
#include "base/text.h"
#include "identify/catalogue.h"

#include <cstdio>

namespace {

const WCHAR *const firmwareFiles[] = {L"VX350_A.05.01.fmw", L"VX355KPLOT_A.04.02.fmw", L"VX350KPLOT_A.04.02.fmw",
                                      L"VX650DISK_A.04.02.fmw", L"VX650PS_A.04.02.fmw"};

std::wstring deviceFilePath()
{
    return besideTestProgram(L"vxprobe.txt");
}

}  // namespace

void AppTest::SetUp()
{
    startFreshRun();
    disconnectPrinter();
}

void AppTest::TearDown()
{
    EXPECT_EQ(upgradeState.refusedPhaseChanges, 0) << "the run tried a change of phase its design does not allow";
    EXPECT_FALSE(fakeWorld.endlessWait) << "the run waited for something that never came";
    if (dialog && IsWindow(dialog))
        DestroyWindow(dialog);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    disconnectPrinter();
    releaseFirmwareFiles();
    for (const WCHAR *file : firmwareFiles)
        DeleteFileW(file);
}

void AppTest::startOver()
{
    EXPECT_EQ(upgradeState.refusedPhaseChanges, 0) << "the run tried a change of phase its design does not allow";
    EXPECT_FALSE(fakeWorld.endlessWait) << "the run waited for something that never came";
    if (dialog && IsWindow(dialog))
        DestroyWindow(dialog);
    releaseFirmwareFiles();
    resetFakeWorld();
    upgradeState = UpgradeState{};
}

HWND AppTest::createDialog()
{
    upgradeState.appInstance = GetModuleHandleW(nullptr);
    registerProgressBarClass();
    dialog = CreateDialogParamW(upgradeState.appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc, 0);
    upgradeState.mainDialog = dialog;
    return dialog;
}

std::wstring AppTest::text(int id) const
{
    WCHAR buffer[1024] = L"";
    GetWindowTextW(control(id), buffer, ARRAYSIZE(buffer));
    return buffer;
}

int AppTest::takePostedStarts()
{
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_APP, WM_APP, PM_REMOVE))
        ++count;
    return count;
}

bool AppTest::takeQuit(int *exitCode)
{
    MSG message;
    if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        return false;
    if (exitCode)
        *exitCode = static_cast<int>(message.wParam);
    return true;
}

void AppTest::connectPrinter(const char *model)
{
    connectPrinters(("device\nrecord " + std::string(model) + "\nport USB001\n").c_str());
}

void AppTest::connectPrinters(const char *devices)
{
    FILE *file = _wfopen(deviceFilePath().c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    std::fputs(devices, file);
    std::fclose(file);
}

void AppTest::provideFirmwareFiles()
{
    for (const WCHAR *file : firmwareFiles) {
        FILE *firmware = _wfopen(file, L"wb");
        ASSERT_NE(firmware, nullptr);
        std::fputs("firmware", firmware);
        std::fclose(firmware);
    }
}

void AppTest::disconnectPrinter()
{
    DeleteFileW(deviceFilePath().c_str());
}

FakeQueue AppTest::queue(const wchar_t *name, const wchar_t *share, bool shared, const wchar_t *port)
{
    FakeQueue queue;
    queue.printerName = name;
    queue.portName = port;
    queue.shareName = share;
    if (shared)
        queue.attributes |= PRINTER_ATTRIBUTE_SHARED;
    return queue;
}

void AppTest::sharedByTheTool()
{
    fakeWorld.queues[0].attributes |= PRINTER_ATTRIBUTE_SHARED;
    copyText(upgradeState.selectedQueue.printerName, fakeWorld.queues[0].printerName->c_str());
    copyText(upgradeState.selectedQueue.shareName, fakeWorld.queues[0].shareName->c_str());
    copyText(upgradeState.targetShareName, fakeWorld.queues[0].shareName->c_str());
    upgradeState.selectedQueue.isShared = 0;
    upgradeState.sharedByTool = 1;
}

std::vector<std::wstring> AppTest::copiedFiles()
{
    // "/C COPY /B <file> <destination>"
    const std::wstring start = L"/C COPY /B ";
    std::vector<std::wstring> files;
    for (const StartedProcess &process : fakeWorld.started) {
        const std::wstring &line = process.parameters;
        size_t end = line.find(L' ', start.size());
        files.push_back(line.compare(0, start.size(), start) == 0 ? line.substr(start.size(), end - start.size())
                                                                   : L"(not a copy) " + line);
    }
    return files;
}

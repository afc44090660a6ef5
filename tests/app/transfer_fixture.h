// The world the transfer stages and the checks before them run in: a
// temporary current folder holding every firmware file, a stand-in for the
// main dialog with its status text, and a scripted spooler whose queue is not
// shared yet.
#pragma once

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

inline std::wstring windowText(HWND window)
{
    WCHAR text[512] = L"";
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

// Where the interpreter must come from: never found by its bare name.
inline std::wstring interpreter()
{
    WCHAR folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\cmd.exe";
}

// A firmware file that "another program" holds open, without sharing it.
inline HANDLE heldFile = INVALID_HANDLE_VALUE;

// The checks before the confirmation, as the run makes them.
inline bool upgradeCanStart()
{
    return upgradeCanStart(holdFirmwareFiles(upgradeState.firmwareKind));
}

inline size_t indexOf(const std::wstring &prefix)
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


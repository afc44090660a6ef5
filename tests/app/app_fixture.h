// What the application tests share: a fresh scripted world, the real main
// dialog created from the real template, and the stand-in device library's
// device file, which is how a test "connects" a printer.
#pragma once

#include "base/state.h"
#include "tests/doubles/fake_windows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh world and upgrade state for the next case of a table, after
    // checking that the case before made no change of phase its design does
    // not allow (TearDown checks the last).
    void startOver();

    // The main dialog as the entry creates it: not shown yet.
    HWND createDialog();
    HWND control(int id) const { return GetDlgItem(dialog, id); }
    std::wstring text(int id) const;

    // Takes the posted WM_APP messages off the queue and counts them.
    int takePostedStarts();
    // True when the quit message is waiting; takes it off with its code.
    bool takeQuit(int *exitCode = nullptr);

    // Writes or removes vxprobe.txt beside the test program.
    static void connectPrinter(const char *model = "Tarnell Vellumax 350");
    // Writes the device file as given, for several printers or records.
    static void connectPrinters(const char *devices);
    static void disconnectPrinter();
    // Puts the five firmware files in the current directory, where the
    // copies read them; TearDown removes them.
    static void provideFirmwareFiles();

    static FakeQueue queue(const wchar_t *name, const wchar_t *share, bool shared = false,
                           const wchar_t *port = L"USB001");
    // Makes queue 0 the selected queue that the tool has shared itself.
    void sharedByTheTool();

    // The file of each copy started, in order.
    static std::vector<std::wstring> copiedFiles();

    HWND dialog = nullptr;
};

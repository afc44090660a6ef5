// Device discovery against library doubles, in a folder of its own: this
// program's folder holds no vxprobe.dll until a test copies one of the
// doubles there under that name.
#include "identify/catalogue.h"
#include "identify/discovery.h"
#include "tests/doubles/fresh_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class LibraryLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        startFreshRun();
        SetEnvironmentVariableA("PROBE_DOUBLE_LOG", "");
        SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "");
        DeleteFileW(library.c_str());
    }

    void TearDown() override { DeleteFileW(library.c_str()); }

    void install(const wchar_t *name)
    {
        ASSERT_TRUE(CopyFileW(besideTestProgram(name).c_str(), library.c_str(), FALSE));
    }

    static std::string log()
    {
        char text[512] = "";
        GetEnvironmentVariableA("PROBE_DOUBLE_LOG", text, sizeof text);
        return text;
    }

    const std::wstring library = besideTestProgram(L"vxprobe.dll");
};

// The error is kept for the not-detected box.
TEST_F(LibraryLoading, WithoutTheLibraryNothingIsDetectedAndThePortStays)
{
    EXPECT_EQ(detectPrinter(), 0);
    EXPECT_STREQ(upgradeState.portName, L"USB001");
    EXPECT_EQ(upgradeState.libraryError, DWORD(ERROR_MOD_NOT_FOUND));
}

// The maker's library is 32-bit; the 64-bit tool gets error 193 for it, as
// for any file that is not a library of its own kind. A later search that
// loads one clears the error.
TEST_F(LibraryLoading, ALibraryThatCannotBeLoadedLeavesItsError)
{
    HANDLE file = CreateFileW(library.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "MZ not a library", 16, &written, nullptr);
    CloseHandle(file);
    EXPECT_EQ(detectPrinter(), 0);
    EXPECT_EQ(upgradeState.libraryError, DWORD(ERROR_BAD_EXE_FORMAT));

    install(L"scripted_probe.dll");
    SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "fail");
    EXPECT_EQ(detectPrinter(), 0);
    EXPECT_EQ(upgradeState.libraryError, 0u);
}

TEST_F(LibraryLoading, ALibraryWithoutTheReleaseEntryIsNeverAskedAndIsUnloaded)
{
    install(L"partial_probe.dll");
    EXPECT_EQ(detectPrinter(), 0);
    EXPECT_EQ(log(), "attach;detach;");
    EXPECT_EQ(GetModuleHandleW(L"vxprobe.dll"), nullptr);
}

// A failed query and an answer without a device array are both given back
// once, with the caller's own list, before the library goes away.
TEST_F(LibraryLoading, AFailedOrEmptyAnswerIsReleasedThenUnloaded)
{
    install(L"scripted_probe.dll");
    for (const char *script : {"fail", "null-devices"}) {
        SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", script);
        SetEnvironmentVariableA("PROBE_DOUBLE_LOG", "");
        EXPECT_EQ(detectPrinter(), 0) << script;
        EXPECT_EQ(log(), "attach;get 0 4 fresh;release same;detach;") << script;
        EXPECT_EQ(GetModuleHandleW(L"vxprobe.dll"), nullptr) << script;
        EXPECT_STREQ(upgradeState.portName, L"USB001") << script;
    }
}

// The library's calling convention is unknown: a stdcall and a cdecl build
// must both get their arguments in order, hand the printer over and leave
// the tool's stack as it was (a stack pointer left off by the argument bytes
// garbles the caller's locals or its return).
TEST_F(LibraryLoading, APrinterIsFoundWhicheverWayTheLibraryCleansUpItsArguments)
{
    for (const wchar_t *double_ : {L"scripted_probe.dll", L"cdecl_probe.dll"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(double_)));
        install(double_);
        SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "one-printer");
        SetEnvironmentVariableA("PROBE_DOUBLE_LOG", "");
        EXPECT_EQ(detectPrinter(), 1);
        EXPECT_STREQ(upgradeState.portName, L"USB007");
        EXPECT_EQ(log(), "attach;get 0 4 fresh;release same;detach;");
        DeleteFileW(library.c_str());
    }
}

TEST_F(LibraryLoading, NullPointersFromTheLibraryArePassedOver)
{
    install(L"scripted_probe.dll");
    SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "nulls");

    EXPECT_EQ(detectPrinter(), 0);
    // The record without a model had a port; the matching ones had none.
    EXPECT_STREQ(upgradeState.portName, L"USB001");
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareStandard);
    EXPECT_EQ(log(), "attach;get 0 4 fresh;release same;detach;");
}

}  // namespace

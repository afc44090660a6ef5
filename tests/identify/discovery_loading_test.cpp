// Device discovery against library doubles, in a folder of its own: this
// program's folder holds no vxprobe.dll until a test copies one of the
// doubles there under that name.
#include "base/system_libraries.h"
#include "identify/catalogue.h"
#include "identify/discovery.h"
#include "tests/doubles/fresh_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {

// Set by a test: after this many more allocations, every allocation of this
// program fails, as on a full heap; negative: none fails.
int allocationsBeforeFailure = -1;

}  // namespace

// The runtime's own operator delete frees with free().
void *operator new(std::size_t size)
{
    if (allocationsBeforeFailure < 0 || allocationsBeforeFailure-- > 0) {
        if (void *memory = std::malloc(size ? size : 1))
            return memory;
    }
    throw std::bad_alloc();
}

namespace {

// Windows' own DLLs come from the system folder only, never from beside the
// program, where anyone may leave one of the same name. First, before a
// test hardens the process's default search.
TEST(SystemLibraries, AreNeverTakenFromBesideTheProgram)
{
    ASSERT_NE(GetFileAttributesW(besideTestProgram(L"cdecl_probe.dll").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(loadSystemLibrary(L"cdecl_probe.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    HMODULE spooler = loadSystemLibrary(L"winspool.drv");
    EXPECT_NE(spooler, nullptr);
    FreeLibrary(spooler);
}

class LibraryLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        startFreshRun();
        SetEnvironmentVariableA("PROBE_DOUBLE_LOG", "");
        SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "");
        DeleteFileW(library.c_str());
        DeleteFileW(helper.c_str());
        ASSERT_TRUE(systemFolderPath(systemLibrary, L"vxprobe.dll"));
        DeleteFileW(systemLibrary);
    }

    void TearDown() override
    {
        DeleteFileW(library.c_str());
        DeleteFileW(helper.c_str());
        DeleteFileW(systemLibrary);
    }

    void install(const wchar_t *name)
    {
        ASSERT_TRUE(CopyFileW(besideTestProgram(name).c_str(), library.c_str(), FALSE));
    }

    // What the double noted, with the 32-bit doubles' stack distances.
    static std::string rawLog()
    {
        char text[512] = "";
        GetEnvironmentVariableA("PROBE_DOUBLE_LOG", text, sizeof text);
        return text;
    }

    // ... and without them.
    static std::string log()
    {
        std::string text = rawLog();
        for (size_t at; (at = text.find("stack ")) != std::string::npos;)
            text.erase(at, text.find(';', at) + 1 - at);
        return text;
    }

    const std::wstring library = besideTestProgram(L"vxprobe.dll");
    const std::wstring helper = besideTestProgram(L"vxprobe_helper.dll");
    WCHAR systemLibrary[MAX_PATH] = L"";
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

// A printer that cannot be noted (the list cannot grow) ends the search
// with the failure, but the library still gets its list back before it is
// freed.
TEST_F(LibraryLoading, AFailureWhileNotingAPrinterStillReleasesTheList)
{
    install(L"scripted_probe.dll");
    SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "one-printer");
    bool failed = false;
    // The model's name is widened; the printer is noted next.
    allocationsBeforeFailure = 1;
    try {
        detectPrinter();
    } catch (const std::bad_alloc &) {
        failed = true;
    }
    allocationsBeforeFailure = -1;
    EXPECT_TRUE(failed);
    EXPECT_EQ(log(), "attach;get 0 4 fresh;release same;detach;");
    EXPECT_EQ(GetModuleHandleW(L"vxprobe.dll"), nullptr);
}

// The library's calling convention is unknown: a stdcall and a cdecl build
// must both get their arguments in order, hand the printer over and leave
// the tool's stack as it was. A stack pointer left off by the argument bytes
// garbles the caller's locals or its return, or, where the caller restores
// it from a frame pointer, only moves the release call: the 32-bit doubles
// note how far the release call's stack is from the get call's, and that
// must not depend on the convention.
TEST_F(LibraryLoading, APrinterIsFoundWhicheverWayTheLibraryCleansUpItsArguments)
{
    std::string logs[2];
    const wchar_t *doubles[] = {L"scripted_probe.dll", L"cdecl_probe.dll"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(doubles[i])));
        install(doubles[i]);
        SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "one-printer");
        SetEnvironmentVariableA("PROBE_DOUBLE_LOG", "");
        EXPECT_EQ(detectPrinter(), 1);
        EXPECT_STREQ(upgradeState.portName, L"USB007");
        EXPECT_EQ(log(), "attach;get 0 4 fresh;release same;detach;");
        logs[i] = rawLog();
        DeleteFileW(library.c_str());
    }
    EXPECT_EQ(logs[0], logs[1]);
}

TEST_F(LibraryLoading, NullPointersFromTheLibraryArePassedOver)
{
    install(L"scripted_probe.dll");
    SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "nulls");

    EXPECT_EQ(detectPrinter(), 0);
    // The record without a model had a port; the matching ones had none, so
    // they say nothing about any port.
    EXPECT_STREQ(upgradeState.portName, L"USB001");
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareNone);
    EXPECT_EQ(log(), "attach;get 0 4 fresh;release same;detach;");
}

// The first vxprobe.dll that is there decides: beside the tool, else in the
// system folder. Its own DLLs come from its folder, also in a process
// hardened as the tool's; one that is there but cannot be loaded (a DLL of
// its own missing) is reported with Windows' error, and the system folder's
// library must not stand in for it. Last of its suite: Wine keeps the file of
// a load that failed open, so no later test could replace it.
TEST_F(LibraryLoading, TheFirstLibraryThatIsThereDecides)
{
    auto *setDefaultDllDirectories =
        resolve<BOOL WINAPI(DWORD)>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    ASSERT_NE(setDefaultDllDirectories, nullptr);
    ASSERT_TRUE(setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));

    struct Case {
        const char *what;
        const wchar_t *besideTool;  // the double installed beside the tool, if any
        bool helperBeside;
        int found;
        DWORD error;
        const char *log;
    };
    const Case cases[] = {
        {"only in the system folder", nullptr, false, 1, ERROR_SUCCESS, "attach;get 0 4 fresh;release same;detach;"},
        {"beside the tool with its own DLL", L"dependent_probe.dll", true, 1, ERROR_SUCCESS,
         "attach;helper;get 0 4 fresh;release same;detach;"},
        {"beside the tool, loading its own DLL by name when asked", L"loading_probe.dll", true, 1, ERROR_SUCCESS,
         "attach;get 0 4 fresh;helper;release same;detach;"},
        {"beside the tool without its own DLL", L"dependent_probe.dll", false, 0, ERROR_MOD_NOT_FOUND, ""},
    };
    ASSERT_TRUE(CopyFileW(besideTestProgram(L"scripted_probe.dll").c_str(), systemLibrary, FALSE));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(library.c_str());
        DeleteFileW(helper.c_str());
        if (c.besideTool)
            install(c.besideTool);
        if (c.helperBeside) {
            ASSERT_TRUE(CopyFileW(besideTestProgram(L"helper\\vxprobe_helper.dll").c_str(), helper.c_str(), FALSE));
        }
        SetEnvironmentVariableA("PROBE_DOUBLE_SCRIPT", "one-printer");
        SetEnvironmentVariableA("PROBE_DOUBLE_LOG", "");
        EXPECT_EQ(detectPrinter(), c.found);
        EXPECT_EQ(upgradeState.libraryError, c.error);
        EXPECT_EQ(log(), c.log);
        // Outside the search only the system folder is searched: the DLL
        // beside the tool is not loaded by its name.
        HMODULE planted = LoadLibraryW(L"vxprobe_helper.dll");
        EXPECT_EQ(planted, nullptr);
        if (planted)
            FreeLibrary(planted);
    }
}

}  // namespace

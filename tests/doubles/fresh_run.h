// Helpers shared by the suites that run the tool's code in process.
#pragma once

#include "base/state.h"
#include "delivery/firmware_files.h"
#include "identify/catalogue.h"
#include "tests/doubles/fake_windows.h"

#include <string>

// The state of a tool that has just started: an empty outside world, the
// upgrade state's start values and a freshly built catalogue.
inline void startFreshRun()
{
    // The run before may have ended with its firmware files held.
    releaseFirmwareFiles();
    resetFakeWorld();
    upgradeState = UpgradeState{};
    modelCatalogue.clear();
    buildModelCatalogue();
}

// A path in the test program's own folder, where the build puts vxprobe.dll
// and where the library looks for its device file.
inline std::wstring besideTestProgram(const std::wstring &name)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

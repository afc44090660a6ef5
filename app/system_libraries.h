// Loading the DLLs that the tool does not import: everything that is not a
// KnownDLL, and the device library.
#pragma once

#include <windows.h>

// A GetProcAddress result as the exact function type of its one declaration.
template <typename Function>
Function *resolve(HMODULE module, const char *name)
{
    return reinterpret_cast<Function *>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// "<system folder>\<name>"; false when it does not fit.
bool systemFolderPath(WCHAR (&path)[MAX_PATH], const WCHAR *name);

// One of Windows' own DLLs, from the system folder only. Null, with the
// loader's error as the last error, when it cannot be loaded.
HMODULE loadSystemLibrary(const WCHAR *name);

// The DLL at this full path, its own dependencies from its folder and then
// the system folder. Null, with the loader's error, when it cannot be
// loaded.
HMODULE loadLibraryAtPath(const WCHAR *path);

// Registers the progress bar's window class, which the main dialog's
// template uses; false when the common controls cannot be loaded.
bool registerProgressBarClass();

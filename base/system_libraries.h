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

// While it lives, a load by bare name searches the folder of the DLL at
// `libraryPath` as well as the system folder; before and after, the system
// folder only, as the tool sets it at start. It spans the device library's
// own code, from its load until it has been freed, so that the library can
// load the DLLs it brings beside it by name. Where Windows knows no user
// folders (Windows 7 without KB2533623) it does nothing.
class LibraryFolderSearch {
public:
    explicit LibraryFolderSearch(const WCHAR *libraryPath);
    ~LibraryFolderSearch();
    LibraryFolderSearch(const LibraryFolderSearch &) = delete;
    LibraryFolderSearch &operator=(const LibraryFolderSearch &) = delete;

private:
    void *cookie = nullptr;
};

// Registers the progress bar's window class, which the main dialog's
// template uses; false when the common controls cannot be loaded.
bool registerProgressBarClass();

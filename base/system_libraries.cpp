// The exe imports only KnownDLLs, which Windows maps from its own list. Any
// other DLL named in the import table would be looked for in the tool's
// folder first, before any of the tool's code runs, and the tool is
// unpacked and started from folders such as Downloads, where anyone can
// leave a comctl32.dll. So the rest is loaded here, after hardenProcess, by
// searches that cannot see the tool's folder or the current one.
#include "base/system_libraries.h"

#include "base/text.h"

#include <commctrl.h>

#include <cwchar>

namespace {

// Windows 7 without KB2533623 knows none of the LOAD_LIBRARY_SEARCH_* flags
// and fails the load with this error; the loads then fall back to a full
// path with LOAD_WITH_ALTERED_SEARCH_PATH, which has the same effect there.
bool searchFlagsUnknown(HMODULE module)
{
    return module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER;
}

// Resolved on the first use; comctl32 stays loaded for the life of the
// process, since the dialog's progress bar runs in it.
decltype(&InitCommonControlsEx) initCommonControlsEx = nullptr;

}  // namespace

bool systemFolderPath(WCHAR (&path)[MAX_PATH], const WCHAR *name)
{
    UINT length = GetSystemDirectoryW(path, ARRAYSIZE(path));
    return length != 0 && length < ARRAYSIZE(path) && appendText(path, L"\\") && appendText(path, name);
}

HMODULE loadSystemLibrary(const WCHAR *name)
{
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!searchFlagsUnknown(module))
        return module;
    WCHAR path[MAX_PATH];
    if (!systemFolderPath(path, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE loadLibraryAtPath(const WCHAR *path)
{
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!searchFlagsUnknown(module))
        return module;
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

typedef void *WINAPI AddDllDirectoryFunction(const WCHAR *folder);
typedef BOOL WINAPI RemoveDllDirectoryFunction(void *cookie);
typedef BOOL WINAPI SetDefaultDllDirectoriesFunction(DWORD flags);

template <typename Function>
Function *fromKernel(const char *name)
{
    return resolve<Function>(GetModuleHandleW(L"kernel32.dll"), name);
}

}  // namespace

LibraryFolderSearch::LibraryFolderSearch(const WCHAR *libraryPath)
{
    auto *addDllDirectory = fromKernel<AddDllDirectoryFunction>("AddDllDirectory");
    auto *removeDllDirectory = fromKernel<RemoveDllDirectoryFunction>("RemoveDllDirectory");
    auto *setDefaultDllDirectories = fromKernel<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    WCHAR folder[MAX_PATH];
    WCHAR *name = copyText(folder, libraryPath) ? std::wcsrchr(folder, L'\\') : nullptr;
    if (!addDllDirectory || !removeDllDirectory || !setDefaultDllDirectories || name == nullptr)
        return;
    *name = L'\0';
    cookie = addDllDirectory(folder);
    if (cookie && !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS)) {
        removeDllDirectory(cookie);
        cookie = nullptr;
    }
}

LibraryFolderSearch::~LibraryFolderSearch()
{
    if (cookie == nullptr)
        return;
    fromKernel<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories")(LOAD_LIBRARY_SEARCH_SYSTEM32);
    fromKernel<RemoveDllDirectoryFunction>("RemoveDllDirectory")(cookie);
}

bool registerProgressBarClass()
{
    if (initCommonControlsEx == nullptr) {
        HMODULE commonControls = loadSystemLibrary(L"comctl32.dll");
        if (commonControls == nullptr)
            return false;
        initCommonControlsEx = resolve<BOOL WINAPI(const INITCOMMONCONTROLSEX *)>(commonControls,
                                                                                   "InitCommonControlsEx");
        if (initCommonControlsEx == nullptr)
            return false;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    return initCommonControlsEx(&controls) != FALSE;
}

#include "delivery/firmware_files.h"

namespace {

const WCHAR baseFirmware[] = L"VX350_A.05.01.fmw";
const WCHAR plot355Firmware[] = L"VX355KPLOT_A.04.02.fmw";
const WCHAR plot350Firmware[] = L"VX350KPLOT_A.04.02.fmw";
const WCHAR diskFirmware[] = L"VX650DISK_A.04.02.fmw";
const WCHAR postScriptFirmware[] = L"VX650PS_A.04.02.fmw";

// cmd.exe cannot use a network path as its current directory: it starts in
// the Windows folder instead, where the relative names of the copies find
// nothing, and the queue would already be shared by then. Refusing keeps the
// command lines as they are; full paths would have to carry the folder's own
// % and ! characters past the interpreter.
bool currentFolderUsable(FilesCheck &check)
{
    const DWORD length = GetCurrentDirectoryW(ARRAYSIZE(check.folder), check.folder);
    if (length != 0 && length < ARRAYSIZE(check.folder) && !(check.folder[0] == L'\\' && check.folder[1] == L'\\'))
        return true;
    if (length == 0 || length >= ARRAYSIZE(check.folder))
        check.folder[0] = L'\0';
    check.result = FilesCheck::FolderUnusable;
    return false;
}

FilesCheck::Result openFailure(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return FilesCheck::FileMissing;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return FilesCheck::FileInUse;
    case ERROR_ACCESS_DENIED:
        return FilesCheck::FileDenied;
    default:
        return FilesCheck::FileUnreadable;
    }
}

// A file that another program holds open for writing, or that the user may
// not read, would otherwise pass and fail its copy only once the queue is
// shared; an empty one would go out as an empty job and the upgrade would be
// reported as done. The size is read from the handle: it is the size of what
// will be sent, whatever was in the folder a moment before.
bool holdFile(const WCHAR *file, FilesCheck &check)
{
    check.file = file;
    // A folder of that name opens (with backup semantics) or is refused
    // as access denied; either way it is no firmware file.
    const DWORD attributes = GetFileAttributesW(file);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        check.result = FilesCheck::FileMissing;
        return false;
    }
    // Noted before the open, so that a list that cannot grow leaves no
    // handle without an owner.
    upgradeState.heldFirmware.push_back({file, INVALID_HANDLE_VALUE, 0});
    HANDLE opened = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        check.error = GetLastError();
        upgradeState.heldFirmware.pop_back();
        check.result = openFailure(check.error);
        return false;
    }
    HeldFile &held = upgradeState.heldFirmware.back();
    held.handle = opened;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(opened, &size)) {
        check.error = GetLastError();
        check.result = FilesCheck::FileUnreadable;
        return false;
    }
    held.size = static_cast<ULONGLONG>(size.QuadPart);
    if (held.size == 0) {
        check.result = FilesCheck::FileEmpty;
        return false;
    }
    return true;
}

}  // namespace

// In sending order; every upgrade ends with the base firmware.
std::vector<const WCHAR *> firstStageFiles(FirmwareKind kind)
{
    switch (kind) {
    case FirmwarePlotLanguage:
        return {plot355Firmware, plot350Firmware, baseFirmware};
    case FirmwareDiskStaged:
        return {diskFirmware};
    default:
        return {baseFirmware};
    }
}

std::vector<const WCHAR *> secondStageFiles(FirmwareKind kind)
{
    if (kind != FirmwareDiskStaged)
        return {};
    return {postScriptFirmware, baseFirmware};
}

std::vector<const WCHAR *> allStageFiles(FirmwareKind kind)
{
    std::vector<const WCHAR *> files = firstStageFiles(kind);
    std::vector<const WCHAR *> later = secondStageFiles(kind);
    files.insert(files.end(), later.begin(), later.end());
    return files;
}

// All of both stages up front: a missing second-stage file must not leave
// the printer half upgraded.
FilesCheck holdFirmwareFiles(FirmwareKind kind)
{
    releaseFirmwareFiles();
    FilesCheck check = {FilesCheck::FilesHeld, nullptr, 0, L""};
    if (!currentFolderUsable(check))
        return check;
    for (const WCHAR *file : allStageFiles(kind)) {
        if (!holdFile(file, check)) {
            releaseFirmwareFiles();
            return check;
        }
    }
    check.file = nullptr;
    return check;
}

bool heldFirmwareSize(const WCHAR *file, ULONGLONG &size)
{
    for (const HeldFile &held : upgradeState.heldFirmware) {
        if (held.name == file) {
            size = held.size;
            return true;
        }
    }
    return false;
}

// The entry stays, without its handle, for the size it had.
void releaseFirmwareFile(const WCHAR *file)
{
    for (HeldFile &held : upgradeState.heldFirmware) {
        if (held.name == file && held.handle != INVALID_HANDLE_VALUE) {
            CloseHandle(held.handle);
            held.handle = INVALID_HANDLE_VALUE;
            return;
        }
    }
}

void releaseFirmwareFiles()
{
    for (const HeldFile &file : upgradeState.heldFirmware) {
        if (file.handle != INVALID_HANDLE_VALUE)
            CloseHandle(file.handle);
    }
    upgradeState.heldFirmware.clear();
}

// The firmware files of a run: which they are, and holding them against
// change from the checks until each one has been sent.
#pragma once

#include "base/state.h"

#include <windows.h>

#include <vector>

// The files an upgrade of this kind sends, in order: in the first stage, and
// after the printer's reboot (none but for the disk-staged models).
std::vector<const WCHAR *> firstStageFiles(FirmwareKind kind);
std::vector<const WCHAR *> secondStageFiles(FirmwareKind kind);

// Both stages' files, in sending order.
std::vector<const WCHAR *> allStageFiles(FirmwareKind kind);

// What holdFirmwareFiles() found.
struct FilesCheck {
    enum Result {
        FilesHeld,       // every file is held, its size read from its handle
        FolderUnusable,  // the current folder is a network path, or cannot be read: `folder` (empty then)
        FileMissing,     // `file` is not there, or is a folder
        FileEmpty,
        FileInUse,       // another program holds `file` open for writing
        FileDenied,      // the user may not read `file`
        FileUnreadable,  // `file` cannot be opened for another reason: `error`
    } result;
    const WCHAR *file;
    DWORD error;
    WCHAR folder[MAX_PATH];
};

// Opens every file of both stages from the current folder, for reading with
// reads alone shared, and keeps them so in upgradeState.heldFirmware: the
// file the user confirms is the file the printer gets, since no other
// program can write, rename or delete it meanwhile, while COPY, which only
// reads, still can. Anything but FilesHeld leaves nothing held. Shows
// nothing.
FilesCheck holdFirmwareFiles(FirmwareKind kind);

// The size a file had while it was held, also once its copy has ended and it
// was let go; false when it was not held this run (or all were let go).
bool heldFirmwareSize(const WCHAR *file, ULONGLONG &size);

// Lets go of one held file once its copy has ended, or of all of them.
void releaseFirmwareFile(const WCHAR *file);
void releaseFirmwareFiles();

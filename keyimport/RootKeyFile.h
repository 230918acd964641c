// The root key file's backup and replacement. Nothing here ever writes over
// an existing file, except the root key file itself once a staged copy that
// the key library has accepted is on disk: it is replaced by one rename,
// so a key is at its name at every moment, or, while another program holds
// it open, written in place with its backup flushed beside it and written
// back on failure. Every name beside the root key is opened relative to
// its folder, which is opened through the file-identity layer.
#pragma once

#include <windows.h>

#include <string>

#include "FileIdentity.h"

// The root key file's site, made once from the path the key library names:
// the plain path for messages and the log, the long forms for file
// operations, and its folder opened as itself.
struct RootKeySite {
    std::wstring plain;    // as the library names it
    std::wstring longPath; // "\\?\..." form
    std::wstring folder;   // its folder, in long form
    std::wstring name;     // "ZIVORoot.key"
    Opened folderHandle;   // empty until openRootKeyFolder

    // A name beside the root key, in long form.
    std::wstring beside(const std::wstring& otherName) const { return folder + L"\\" + otherName; }
};

// False for a path that is not whole and absolute (empty, relative, a
// device): the import touches nothing then.
bool makeRootKeySite(const std::wstring& rootKeyPath, RootKeySite& site);

// ERROR_STOPPED_ON_SYMLINK, "The create operation stopped after reaching a
// symbolic link.", which not every SDK names.
inline constexpr DWORD kErrorStoppedOnLink = 681;

// Opens the root key's folder through the file-identity layer. The error
// that refuses the import: kErrorStoppedOnLink where a link an
// ordinary user could lay is on the way, else the system's.
DWORD openRootKeyFolder(RootKeySite& site);

// A key file read whole, once: what is staged, and which file it was.
struct KeyFileBytes {
    std::string bytes;
    FileIdentity identity;
    FILE_BASIC_INFO basic = {};
};

// Reads a key file whole. Only a disk file of at most 1 MiB is read
// (ERROR_NOT_SUPPORTED, ERROR_FILE_TOO_LARGE): a pipe or a device swapped
// in after the check could make a read wait for ever.
DWORD readKeyFile(const std::wstring& path, KeyFileBytes& key);

// Reads the root key file through its folder. ERROR_FILE_NOT_FOUND when
// there is none; kErrorStoppedOnLink when it is a link.
DWORD readRootKey(const RootKeySite& site, KeyFileBytes& root);

// What a copy keeps: a backup the root key's attributes, last-write time
// and encryption, as a file copy does; a staged key nothing of the chosen
// file, so the root key never turns read-only or hidden because the chosen
// file was.
enum class CopyKind { Backup, Staged };

// Writes `bytes` to a file created new at the first name of `name`,
// "`name` (2)", "`name` (3)", ... that is free in the folder; an existing
// file is never replaced. The copy counts once it is written whole and
// flushed; one that fails is removed through its own handle. ERROR_SUCCESS
// with the name used in `used`, or the error. `like` gives the attributes
// and time a backup keeps, and a staged key's encryption.
DWORD writeToFreeName(const Opened& folder, const std::wstring& name, const std::string& bytes, CopyKind kind,
                      const FILE_BASIC_INFO& like, std::wstring& used);

enum class KeyInstallResult {
    Installed,
    Rejected, // the staged copy is not a usable key
    Failed,   // a copy or the replacement failed; `error` says why
};

struct KeyInstall {
    KeyInstallResult result;
    DWORD error;
};

// Stages the chosen key's bytes beside the root key file, has the key
// library check the staged copy, and only then puts it in the root key's
// place by one rename (MoveFileExW, replacing the root key only when a
// backup of it exists: `root` is null when there was none). While another
// program holds the root key open, the staged key is written into it in
// place and read back until it holds still; on any failure the old bytes
// are written back. A root key that another program changes meanwhile is
// reported as in use (ERROR_SHARING_VIOLATION), never as imported.
KeyInstall installKey(const RootKeySite& site, const KeyFileBytes& chosen, const KeyFileBytes* root);

// Removes the staging files ("<root key>.import", "<root key>.import (N)")
// that an import ended half-way left; links, files with other links and
// the file the user chose (`keep`) are left alone.
void removeLeftoverStaging(const RootKeySite& site, const FileIdentity& keep);

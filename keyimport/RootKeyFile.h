// The root key file's backup and replacement. Nothing here ever writes over
// an existing file, except the root key file itself once a staged copy that
// the key library has accepted is on disk, and then only as a whole: it is
// replaced in one step, or, while another program holds it open, written
// in place with its backup flushed beside it and written back on failure.
#pragma once

#include <windows.h>

#include <string>

// The form of a path to hand to file operations: the extended-length form
// ("\\?\C:\..." or "\\?\UNC\server\share\...") once the plain form could
// pass MAX_PATH, so long root key paths work without long-path support.
// Log records and messages keep the plain path.
std::wstring fileSystemPath(const std::wstring& path);

// True for a path that names its drive or share ("X:\..." or
// "\\server\share\...", also in extended form): the only root key paths
// the import touches.
bool isWholeAbsolutePath(const std::wstring& path);

// What a copy keeps of the file it copies: a backup its attributes and
// last-write time, as a plain file copy does; a staged key nothing, so
// the root key never turns read-only or hidden because the chosen file was.
enum class CopyKind { Backup, Staged };

// Copies `from` to the first name of `name`, "`name` (2)", "`name` (3)", ...
// that is free; an existing file is never replaced. Only a disk file of at
// most 1 MiB is copied (ERROR_NOT_SUPPORTED, ERROR_FILE_TOO_LARGE), and a
// backup of an encrypted file is created encrypted. The copy counts only
// once it is written whole and flushed to disk; a copy that fails removes
// the file it created, never one that was there before. ERROR_SUCCESS with
// the name used in `used`, or the copy's error.
DWORD copyToFreeName(const std::wstring& from, const std::wstring& name, CopyKind kind, std::wstring& used);

// A failed backup only lets the import go on when there is no root key
// file to lose: the file or its folder does not exist.
bool isMissingFileError(DWORD error);

enum class KeyInstallResult {
    Installed,
    Rejected, // the staged copy is not a usable key (the file changed after the check)
    Failed,   // a copy or the replacement failed; `error` says why
};

struct KeyInstall {
    KeyInstallResult result;
    DWORD error;
};

// Copies the new key to a staging file beside the root key file, has the
// key library check the staged copy again, and only then puts it in the
// root key's place:
// - with a backup (`backupPath`, the root key existed): ReplaceFileW, which
//   keeps the root key file's access list, attributes and encryption,
//   retried briefly while the file is shared, then the root key flushed;
//   while another program holds the root key open, the staged key is
//   written into it in place, flushed and read back, and on any failure
//   the old bytes, kept in memory, are written back and read back;
// - without one (no root key yet): MoveFileExW, which never replaces a root
//   key that appeared meanwhile.
// On any failure the staging file is removed and the root key file holds
// the key it held before.
KeyInstall installKey(const std::wstring& newKeyPath, const std::wstring& rootKeyPath, const std::wstring& backupPath);

// Removes the staging files ("<root key>.import", "<root key>.import (N)")
// that an import ended half-way left beside the root key; links and files
// with other links are left alone.
void removeLeftoverStaging(const std::wstring& rootKeyPath);

// The root key file's backup and replacement. Nothing here ever writes over
// an existing file except the final, single-step replacement of the root
// key by a staged copy that the key library has accepted.
#pragma once

#include <windows.h>

#include <string>

// The form of a path to hand to file operations: the extended-length form
// ("\\?\C:\..." or "\\?\UNC\server\share\...") once the plain form could
// pass MAX_PATH, so long root key paths work without long-path support.
// Log records and messages keep the plain path.
std::wstring fileSystemPath(const std::wstring& path);

// Copies `from` to the first name of `name`, "`name` (2)", "`name` (3)", ...
// that is free; an existing file is never replaced. ERROR_SUCCESS with the
// name used in `used`, or the copy's error.
DWORD copyToFreeName(const std::wstring& from, const std::wstring& name, std::wstring& used);

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
// key library check the staged copy again, and only then moves it over the
// root key file in one step. On any failure the staging file is removed and
// the root key file is left as it was.
KeyInstall installKey(const std::wstring& newKeyPath, const std::wstring& rootKeyPath);

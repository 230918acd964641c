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
std::wstring fileSystemPath(const std::wstring& strPath);

// Copies `strFrom` to the first name of `strName`, "`strName` (2)",
// "`strName` (3)", ... that is free; an existing file is never replaced.
// ERROR_SUCCESS with the name used in `strUsed`, or the copy's error.
DWORD copyToFreeName(const std::wstring& strFrom, const std::wstring& strName, std::wstring& strUsed);

// A failed backup only lets the import go on when there is no root key
// file to lose: the file or its folder does not exist.
bool isMissingFileError(DWORD dwError);

enum class KeyInstallResult {
    Installed,
    Rejected, // the staged copy is not a usable key (the file changed after the check)
    Failed,   // a copy or the replacement failed; `dwError` says why
};

struct KeyInstall {
    KeyInstallResult result;
    DWORD dwError;
};

// Copies the new key to a staging file beside the root key file, has the
// key library check the staged copy again, and only then moves it over the
// root key file in one step. On any failure the staging file is removed and
// the root key file is left as it was.
KeyInstall installKey(const std::wstring& strNewKeyPath, const std::wstring& strRootKeyPath);

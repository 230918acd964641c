// One import at a time for a root key file, in any of its user's sessions.
// Two instances confirmed at once would otherwise meet half-way through each
// other's replace.
//
// The lock is a file beside the root key ("<root key>.lock"), opened
// relative to the root key's folder, without sharing, and deleted when its
// handle closes, also when the import is ended half-way: only a program of
// the user who owns the folder can hold it, no name in a session's
// namespace can fake it, and all the user's sessions meet at the same file.
#pragma once

#include <windows.h>

#include "FileIdentity.h"
#include "RootKeyFile.h"

class ImportLock {
public:
    // Waits for another import to finish, at most `kWaitMs`. The file the
    // user chose (`chosen`) is never deleted, even at the lock's name.
    ImportLock(const RootKeySite& site, const FileIdentity& chosen);
    ImportLock(const ImportLock&) = delete;
    ImportLock& operator=(const ImportLock&) = delete;

    // ERROR_SUCCESS once held; else why not: ERROR_SHARING_VIOLATION when
    // another import still held it after the wait, ERROR_ALREADY_EXISTS at
    // once when something else (a folder, a link, a file that is no lock)
    // is at the lock's name, or the system's error.
    DWORD error() const { return m_error; }

    static const DWORD kWaitMs = 30000;

private:
    Opened m_file;
    DWORD m_error = ERROR_SUCCESS;
};

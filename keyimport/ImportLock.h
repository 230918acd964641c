// One import at a time for a root key file, in any of its user's sessions.
// Two instances confirmed at once would otherwise meet half-way through each
// other's replace: a replace renames the root key away for a moment, and
// the other instance would find no root key to back up or to replace.
//
// The lock is a file beside the root key ("<root key>.lock"), opened
// without sharing and deleted when its handle closes, also when the import
// is ended half-way: only a program of the user who owns the folder can
// hold it, no name in a session's namespace can fake it, and all the
// user's sessions meet at the same file.
#pragma once

#include <windows.h>

#include <string>

#include "UniqueHandle.h"

class ImportLock {
public:
    // Waits for the other import to finish, at most `kWaitMs`.
    explicit ImportLock(const std::wstring& rootKeyPath);
    ImportLock(const ImportLock&) = delete;
    ImportLock& operator=(const ImportLock&) = delete;

    // ERROR_SUCCESS once held; else why not: ERROR_SHARING_VIOLATION when
    // another program still held it after the wait, or the system's error.
    DWORD error() const { return m_error; }

    static const DWORD kWaitMs = 30000;

private:
    UniqueFileHandle m_file;
    DWORD m_error = ERROR_SUCCESS;
};

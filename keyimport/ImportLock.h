// One import at a time in a logon session. Two instances confirmed at once
// would otherwise meet half-way through each other's replace: a replace
// renames the root key away for a moment, and the other instance would
// find no root key to back up or to replace.
#pragma once

#include <windows.h>

#include "UniqueHandle.h"

class ImportLock {
public:
    // Waits for the other import to finish, at most `kWaitMs`.
    ImportLock();
    ~ImportLock();
    ImportLock(const ImportLock&) = delete;
    ImportLock& operator=(const ImportLock&) = delete;

    // ERROR_SUCCESS once held; else why not (ERROR_TIMEOUT, or the
    // system's error).
    DWORD error() const { return m_error; }

    static const DWORD kWaitMs = 30000;

private:
    UniqueHandle m_mutex;
    DWORD m_error = ERROR_SUCCESS;
    bool m_held = false;
};

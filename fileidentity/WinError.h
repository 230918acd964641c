// The small error helpers every program of the kit uses.
#pragma once

#include <windows.h>

// The last error of a failed call, which is never taken for success.
inline DWORD lastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// Nothing there: the file, or a folder on its way.
inline bool isMissingError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

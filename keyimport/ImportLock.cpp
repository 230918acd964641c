#include "ImportLock.h"

#include "OpenedAsItself.h"
#include "RootKeyFile.h"

namespace {

const wchar_t kLockSuffix[] = L".lock";
const DWORD kRetryPauseMs = 100;

// Held by another import: open without sharing, or marked for deletion
// and not yet closed (Windows refuses the open with access denied then).
bool isHeldElsewhere(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// A lock file marked for deletion, not yet closed, cannot even be asked
// for its attributes: anything but "not found" means it is there.
bool lockFileIsThere(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND;
}

} // namespace

ImportLock::ImportLock(const std::wstring& rootKeyPath)
{
    const std::wstring path = fileSystemPath(rootKeyPath + kLockSuffix);
    const ULONGLONG deadline = GetTickCount64() + kWaitMs;
    for (;;) {
        m_file.reset(CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, NULL, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, NULL));
        if (m_file) break;
        const DWORD openError = GetLastError();
        // Access denied with no lock file there: the folder itself refuses.
        const bool held = isHeldElsewhere(openError) && (openError != ERROR_ACCESS_DENIED || lockFileIsThere(path));
        if (!held) {
            m_error = openError != ERROR_SUCCESS ? openError : ERROR_GEN_FAILURE;
            return;
        }
        if (GetTickCount64() >= deadline) {
            m_error = ERROR_SHARING_VIOLATION; // the file is in use
            return;
        }
        Sleep(kRetryPauseMs);
    }
    // Gone when the handle closes, however this import ends; a link found
    // there is neither used nor deleted.
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!isOpenedAsItself(m_file.get(), path.c_str())) {
        m_file.reset();
        m_error = ERROR_ACCESS_DENIED;
    } else if (!SetFileInformationByHandle(m_file.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
        m_error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE;
        m_file.reset();
    }
}

#include "ImportLock.h"

#include "Deletion.h"

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

// A lock file of this program's making: empty, one name.
bool isLockFile(const Opened& file)
{
    FILE_STANDARD_INFO standard = {};
    return file.links == 1 &&
           GetFileInformationByHandleEx(file.handle.get(), FileStandardInfo, &standard, sizeof(standard)) &&
           standard.EndOfFile.QuadPart == 0;
}

} // namespace

ImportLock::ImportLock(const RootKeySite& site, const FileIdentity& chosen)
{
    const std::wstring name = site.name + kLockSuffix;
    const ULONGLONG deadline = GetTickCount64() + kWaitMs;
    EntryRequest request;
    request.access = GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES;
    request.share = 0;
    request.createAttributes = FILE_ATTRIBUTE_HIDDEN;
    for (int collisions = 0;;) {
        request.disposition = FILE_OPEN;
        m_file = openEntry(site.folderHandle, name, request);
        if (m_file.refusal == Refusal::Missing) {
            request.disposition = FILE_CREATE;
            m_file = openEntry(site.folderHandle, name, request);
            // Made meanwhile by another import: opened again, once. Found
            // missing and taken twice over, the name holds something no open
            // reaches (a link to nothing).
            if (m_file.refusal == Refusal::Failed && (m_file.error == ERROR_FILE_EXISTS || m_file.error == ERROR_ALREADY_EXISTS)) {
                if (++collisions < 2) continue;
                m_error = ERROR_ALREADY_EXISTS;
                return;
            }
        }
        if (m_file) break;
        // A folder or a link at the lock's name is no lock: refused at once.
        if (m_file.refusal != Refusal::Failed) {
            m_error = m_file.refusal == Refusal::Missing ? m_file.error : ERROR_ALREADY_EXISTS;
            return;
        }
        const DWORD openError = m_file.error;
        // Access denied with no lock file there: the folder itself refuses.
        if (!isHeldElsewhere(openError) || (openError == ERROR_ACCESS_DENIED && !lockFileIsThere(site.beside(name)))) {
            m_error = openError != ERROR_SUCCESS ? openError : ERROR_GEN_FAILURE;
            return;
        }
        if (GetTickCount64() >= deadline) {
            m_error = ERROR_SHARING_VIOLATION; // the file is in use
            return;
        }
        Sleep(kRetryPauseMs);
    }
    // The file the user chose, named like the lock: held as the lock, and
    // left where it is.
    if (sameIdentity(m_file.identity, chosen)) return;
    if (!isLockFile(m_file)) {
        m_file = Opened();
        m_error = ERROR_ALREADY_EXISTS;
        return;
    }
    // A lock file left read-only (by a restore, say) is cleared first: a
    // read-only file cannot be marked for deletion.
    if (m_file.attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = (m_file.attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) | FILE_ATTRIBUTE_HIDDEN;
        (void)SetFileInformationByHandle(m_file.handle.get(), FileBasicInfo, &basic, sizeof(basic));
    }
    // Gone when the handle closes, however this import ends.
    DeletionWays classic;
    classic.posixRefused = true; // the name stays until the lock is let go
    if (!markForDeletion(m_file.handle.get(), classic)) {
        m_error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE;
        m_file = Opened();
    }
}

#include "Deletion.h"

namespace {

// FileDispositionInfoEx and its flags, named here: the kit builds for
// older Windows too, where the call answers "invalid parameter".
const auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDispositionDelete = 0x1;
const DWORD kDispositionPosixSemantics = 0x2;
const DWORD kDispositionIgnoreReadOnly = 0x10;

// The platform does not know the request, as opposed to refusing the object.
bool isUnknownRequest(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

} // namespace

bool markForDeletion(HANDLE object, DeletionWays& ways, bool ignoreReadOnly)
{
    if (!ways.posixRefused) {
        const bool askIgnore = ignoreReadOnly && !ways.ignoreReadOnlyRefused;
        DWORD flags = kDispositionDelete | kDispositionPosixSemantics | (askIgnore ? kDispositionIgnoreReadOnly : 0);
        if (SetFileInformationByHandle(object, kDispositionInfoEx, &flags, sizeof(flags))) return true;
        DWORD error = GetLastError();
        if (askIgnore && isUnknownRequest(error)) {
            // Windows 10 before 1809 knows POSIX semantics but not this flag.
            ways.ignoreReadOnlyRefused = true;
            flags = kDispositionDelete | kDispositionPosixSemantics;
            if (SetFileInformationByHandle(object, kDispositionInfoEx, &flags, sizeof(flags))) return true;
            error = GetLastError();
        }
        // Read-only, mapped, or a folder not empty: the classic way refuses it too.
        if (!isUnknownRequest(error)) return false;
        ways.posixRefused = true;
        ways.ignoreReadOnlyRefused = true;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(object, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool canIgnoreReadOnly(const DeletionWays& ways)
{
    return !ways.posixRefused && !ways.ignoreReadOnlyRefused;
}

#include "RootKeyFile.h"

#include <cwchar>

#include "KeyCheck.h"
#include "UniqueHandle.h"

namespace {

// Enough for every backup a user could make in one clock second; past it
// the import stops rather than replace anything.
const int kMaxNameTries = 1000;

// Staging files carry the root key file's name and this ending.
const wchar_t kStagingSuffix[] = L".import";

// A replace that meets a file shared for a moment (another import's copy,
// a scanner) is tried again this often, this far apart.
const int kReplaceTries = 5;
const DWORD kReplacePauseMs = 100;

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kCopyChunk = 4096; // a key file is a few dozen bytes

DWORD lastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

bool isNameTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// "name", "name (2)", "name (3)", ... The digits are written by hand: the
// runtime's number formatting would add its whole printf engine.
std::wstring numberedName(const std::wstring& name, int number)
{
    if (number == 1) return name;
    std::wstring digits;
    for (int rest = number; rest > 0; rest /= 10) digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + rest % 10));
    return name + L" (" + digits + L")";
}

UniqueFileHandle openToRead(const std::wstring& path)
{
    // Shared for everything: a running component may hold the file open.
    return UniqueFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL));
}

// Writes all of `source`, from its start, into `target` at its start, cuts
// `target` there and flushes it to disk.
DWORD writeWhole(HANDLE source, HANDLE target)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(source, start, NULL, FILE_BEGIN) || !SetFilePointerEx(target, start, NULL, FILE_BEGIN))
        return lastErrorOr(ERROR_GEN_FAILURE);
    BYTE chunk[kCopyChunk];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, chunk, kCopyChunk, &read, NULL)) return lastErrorOr(ERROR_READ_FAULT);
        if (read == 0) break;
        DWORD written = 0;
        if (!WriteFile(target, chunk, read, &written, NULL)) return lastErrorOr(ERROR_WRITE_FAULT);
        if (written != read) return ERROR_DISK_FULL;
    }
    if (!SetEndOfFile(target)) return lastErrorOr(ERROR_WRITE_FAULT);
    // Not final before it is on disk: a power cut must not find an empty file.
    if (!FlushFileBuffers(target)) return lastErrorOr(ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

bool markForDeletion(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// Copies `from` to a file that this call creates at `to`. On failure the
// created file goes through its own handle; a name that is taken is left
// to whoever has it (ERROR_FILE_EXISTS).
DWORD copyToNewFile(const std::wstring& from, const std::wstring& to, CopyKind kind)
{
    const UniqueFileHandle source = openToRead(from);
    if (!source) return lastErrorOr(ERROR_GEN_FAILURE);
    FILE_BASIC_INFO sourceInfo = {};
    if (kind == CopyKind::Backup && !GetFileInformationByHandleEx(source.get(), FileBasicInfo, &sourceInfo, sizeof(sourceInfo)))
        return lastErrorOr(ERROR_GEN_FAILURE);
    // Not shared while it is written: nobody reads half a key.
    const UniqueFileHandle target(
        CreateFileW(to.c_str(), GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!target) return lastErrorOr(ERROR_GEN_FAILURE);
    const DWORD error = writeWhole(source.get(), target.get());
    if (error != ERROR_SUCCESS) {
        (void)markForDeletion(target.get()); // goes when the handle closes
        return error;
    }
    if (kind == CopyKind::Backup) {
        // As a file copy leaves it: the attributes and the last write time.
        FILE_BASIC_INFO kept = {};
        kept.LastWriteTime = sourceInfo.LastWriteTime;
        kept.FileAttributes = sourceInfo.FileAttributes;
        (void)SetFileInformationByHandle(target.get(), FileBasicInfo, &kept, sizeof(kept));
    }
    return ERROR_SUCCESS;
}

void removeStaged(const std::wstring& stagedPath)
{
    // Staged copies are made with normal attributes, so they can always go.
    (void)DeleteFileW(stagedPath.c_str());
}

// A replace that failed because another program has the root key open,
// where writing into it is still possible.
bool isHeldOpen(DWORD error, const std::wstring& rootPath)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_LOCK_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    const DWORD attributes = GetFileAttributesW(rootPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// The root key file replaced by the staged one in one step, keeping the
// root key file's own access list, attributes and encryption. The replaced
// file goes to this import's own backup name (same content as the copy
// there): given a backup name, a failed replace leaves both files under
// their names, where without one the root key could be left gone.
DWORD replaceRootKey(const std::wstring& stagedPath, const std::wstring& rootPath, const std::wstring& backupPath)
{
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1; attempt <= kReplaceTries; ++attempt) {
        if (ReplaceFileW(rootPath.c_str(), stagedPath.c_str(), backupPath.c_str(), 0, NULL, NULL)) return ERROR_SUCCESS;
        error = lastErrorOr(ERROR_ACCESS_DENIED); // Wine leaves 0 for a read-only root key
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_UNABLE_TO_REMOVE_REPLACED) break;
        if (attempt < kReplaceTries) Sleep(kReplacePauseMs);
    }
    return error;
}

// A plain copy over the file, for a root key held open: `from`
// written into the existing file at `rootPath`, which keeps its identity.
DWORD writeInPlace(const std::wstring& from, const std::wstring& rootPath)
{
    const UniqueFileHandle source = openToRead(from);
    if (!source) return lastErrorOr(ERROR_GEN_FAILURE);
    const UniqueFileHandle root(CreateFileW(rootPath.c_str(), GENERIC_WRITE, kShareAll, NULL, OPEN_EXISTING, 0, NULL));
    if (!root) return lastErrorOr(ERROR_GEN_FAILURE);
    return writeWhole(source.get(), root.get());
}

// The staged key written into the held root key, then checked where it
// lies; any failure writes the backup back.
KeyInstall installInPlace(const std::wstring& stagedPath, const std::wstring& rootPath, const std::wstring& backupPath)
{
    DWORD error = writeInPlace(stagedPath, rootPath);
    if (error == ERROR_SUCCESS && !isUsableKeyFile(rootPath)) error = ERROR_FILE_CORRUPT;
    if (error != ERROR_SUCCESS) (void)writeInPlace(backupPath, rootPath);
    removeStaged(stagedPath);
    if (error != ERROR_SUCCESS) return {KeyInstallResult::Failed, error};
    return {KeyInstallResult::Installed, ERROR_SUCCESS};
}

} // namespace

std::wstring fileSystemPath(const std::wstring& path)
{
    // Room for the longest name a file operation may add to a folder path.
    if (path.size() < MAX_PATH - 12) return path;
    const bool onDrive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    const bool onShare = path.compare(0, 2, L"\\\\") == 0 && path.compare(0, 4, L"\\\\?\\") != 0 &&
                         path.compare(0, 4, L"\\\\.\\") != 0;
    if (!onDrive && !onShare) return path; // already extended, or relative
    // The extended form takes the path literally: resolve "." and "..".
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, NULL, NULL);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, &full[0], NULL);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return onDrive ? L"\\\\?\\" + full : L"\\\\?\\UNC\\" + full.substr(2);
}

bool isWholeAbsolutePath(const std::wstring& path)
{
    std::wstring plain = path;
    if (plain.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        plain = L"\\\\" + plain.substr(8);
    else if (plain.compare(0, 4, L"\\\\?\\") == 0)
        plain = plain.substr(4);
    const auto isLetter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
    if (plain.size() > 3 && isLetter(plain[0]) && plain[1] == L':' && plain[2] == L'\\') return true;
    if (plain.compare(0, 2, L"\\\\") != 0) return false;
    // "\\server\share\name": a server and a share, neither "?" nor ".".
    const size_t share = plain.find(L'\\', 2);
    if (share == std::wstring::npos || share == 2) return false;
    const std::wstring server = plain.substr(2, share - 2);
    if (server == L"?" || server == L".") return false;
    const size_t rest = plain.find(L'\\', share + 1);
    return rest != std::wstring::npos && rest > share + 1 && rest + 1 < plain.size();
}

DWORD copyToFreeName(const std::wstring& from, const std::wstring& name, CopyKind kind, std::wstring& used)
{
    const std::wstring source = fileSystemPath(from);
    DWORD error = ERROR_FILE_EXISTS;
    for (int number = 1; number <= kMaxNameTries && isNameTaken(error); ++number) {
        const std::wstring candidate = numberedName(name, number);
        error = copyToNewFile(source, fileSystemPath(candidate), kind);
        if (error == ERROR_SUCCESS) {
            used = candidate;
            return ERROR_SUCCESS;
        }
    }
    used.clear();
    return error;
}

bool isMissingFileError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

KeyInstall installKey(const std::wstring& newKeyPath, const std::wstring& rootKeyPath, const std::wstring& backupPath)
{
    std::wstring staged;
    const DWORD copyError = copyToFreeName(newKeyPath, rootKeyPath + kStagingSuffix, CopyKind::Staged, staged);
    if (copyError != ERROR_SUCCESS) return {KeyInstallResult::Failed, copyError};

    const std::wstring stagedPath = fileSystemPath(staged);
    const std::wstring rootPath = fileSystemPath(rootKeyPath);
    // Checked again as it now lies beside the root key: a file changed or
    // swapped since the dialog's check is caught here.
    if (!isUsableKeyFile(stagedPath)) {
        removeStaged(stagedPath);
        return {KeyInstallResult::Rejected, ERROR_SUCCESS};
    }

    DWORD error = ERROR_SUCCESS;
    if (backupPath.empty()) {
        // No root key to keep anything of; one that appeared since the
        // backup found none is not replaced without a backup.
        if (!MoveFileExW(stagedPath.c_str(), rootPath.c_str(), MOVEFILE_WRITE_THROUGH)) error = lastErrorOr(ERROR_GEN_FAILURE);
    } else {
        const std::wstring backup = fileSystemPath(backupPath);
        error = replaceRootKey(stagedPath, rootPath, backup);
        if (error != ERROR_SUCCESS && isHeldOpen(error, rootPath)) return installInPlace(stagedPath, rootPath, backup);
        // The one failure after which the root key is not at its name: it
        // is put back from the backup, which holds the same key.
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && GetFileAttributesW(rootPath.c_str()) == INVALID_FILE_ATTRIBUTES)
            (void)copyToNewFile(backup, rootPath, CopyKind::Backup);
    }
    if (error != ERROR_SUCCESS) {
        removeStaged(stagedPath);
        return {KeyInstallResult::Failed, error};
    }
    return {KeyInstallResult::Installed, ERROR_SUCCESS};
}

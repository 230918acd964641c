#include "RootKeyFile.h"

#include <cwchar>
#include <vector>

#include "KeyCheck.h"
#include "OpenedAsItself.h"
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
// Far above any key file: a copy, and the bytes kept in memory, never
// exceed it, whatever the chosen file has become since the check.
const LONGLONG kMaxKeyFileBytes = LONGLONG{1024} * 1024;

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

// Only a file on a disk, and one no larger than a key file can be, is
// read: a pipe or a device swapped in after the check could make a read
// wait for ever.
DWORD checkReadable(HANDLE source)
{
    if (GetFileType(source) != FILE_TYPE_DISK) return ERROR_NOT_SUPPORTED;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(source, &size)) return lastErrorOr(ERROR_READ_FAULT);
    return size.QuadPart > kMaxKeyFileBytes ? ERROR_FILE_TOO_LARGE : ERROR_SUCCESS;
}

// The whole of an open file, from its start, by the rule above.
DWORD readWhole(HANDLE source, std::string& bytes)
{
    bytes.clear();
    DWORD error = checkReadable(source);
    if (error != ERROR_SUCCESS) return error;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(source, start, NULL, FILE_BEGIN)) return lastErrorOr(ERROR_READ_FAULT);
    char chunk[kCopyChunk];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, chunk, kCopyChunk, &read, NULL)) return lastErrorOr(ERROR_READ_FAULT);
        if (read == 0) return ERROR_SUCCESS;
        bytes.append(chunk, read);
        if (static_cast<LONGLONG>(bytes.size()) > kMaxKeyFileBytes) return ERROR_FILE_TOO_LARGE; // grew meanwhile
    }
}

// Writes `bytes` into `target` from its start, cuts it there and flushes it
// to disk.
DWORD writeWhole(const std::string& bytes, HANDLE target)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(target, start, NULL, FILE_BEGIN)) return lastErrorOr(ERROR_GEN_FAILURE);
    DWORD written = 0;
    if (!bytes.empty() && !WriteFile(target, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL))
        return lastErrorOr(ERROR_WRITE_FAULT);
    if (written != bytes.size()) return ERROR_DISK_FULL;
    // A program that maps the file into memory keeps it from being cut.
    if (!SetEndOfFile(target)) return lastErrorOr(ERROR_WRITE_FAULT);
    // Not final before it is on disk: a power cut must not find an empty file.
    if (!FlushFileBuffers(target)) return lastErrorOr(ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

// What a file holds, read with full sharing, as the program holding it
// open allows.
DWORD readFileBytes(const std::wstring& path, std::string& bytes)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, NULL, OPEN_EXISTING, 0, NULL));
    if (!file) return lastErrorOr(ERROR_GEN_FAILURE);
    return readWhole(file.get(), bytes);
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
    std::string bytes;
    DWORD error = readWhole(source.get(), bytes);
    if (error != ERROR_SUCCESS) return error;
    // Encrypted as the file copy of an encrypted root key would be: only a
    // file created encrypted is (EFS); nothing of the key lies in plain text.
    const DWORD encrypted =
        kind == CopyKind::Backup ? (sourceInfo.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED) : 0;
    // Not shared while it is written: nobody reads half a key.
    const UniqueFileHandle target(CreateFileW(to.c_str(), GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW,
                                              encrypted ? encrypted : FILE_ATTRIBUTE_NORMAL, NULL));
    if (!target) return lastErrorOr(ERROR_GEN_FAILURE);
    error = writeWhole(bytes, target.get());
    if (error != ERROR_SUCCESS) {
        (void)markForDeletion(target.get()); // goes when the handle closes
        return error;
    }
    if (kind == CopyKind::Backup) {
        // As a file copy leaves it: the attributes and the last write time.
        FILE_BASIC_INFO kept = {};
        kept.LastWriteTime = sourceInfo.LastWriteTime;
        kept.FileAttributes = sourceInfo.FileAttributes & ~FILE_ATTRIBUTE_ENCRYPTED; // set at creation, not here
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

// Writes `bytes` into the existing root key file, which keeps its identity
// and whoever holds it open, then reads it back with full sharing: only
// the same bytes count as written.
DWORD writeInPlace(const std::string& bytes, const std::wstring& rootPath)
{
    {
        const UniqueFileHandle root(CreateFileW(rootPath.c_str(), GENERIC_WRITE, kShareAll, NULL, OPEN_EXISTING, 0, NULL));
        if (!root) return lastErrorOr(ERROR_GEN_FAILURE);
        const DWORD error = writeWhole(bytes, root.get());
        if (error != ERROR_SUCCESS) return error;
    }
    std::string back;
    const DWORD error = readFileBytes(rootPath, back);
    if (error != ERROR_SUCCESS) return error;
    return back == bytes ? ERROR_SUCCESS : ERROR_FILE_CORRUPT;
}

// The staged key written into the held root key and read back. On any
// failure the root key's old bytes, kept in memory (a scanner may hold the
// backup), are written back and read back. When even that fails, the
// outcome is what the root key holds: the new key whole is an import done.
KeyInstall installInPlace(const std::wstring& stagedPath, const std::wstring& rootPath)
{
    std::string staged;
    std::string old;
    DWORD error = readFileBytes(stagedPath, staged);
    if (error == ERROR_SUCCESS) error = readFileBytes(rootPath, old);
    if (error != ERROR_SUCCESS) {
        removeStaged(stagedPath);
        return {KeyInstallResult::Failed, error};
    }
    error = writeInPlace(staged, rootPath);
    removeStaged(stagedPath);
    if (error == ERROR_SUCCESS) return {KeyInstallResult::Installed, ERROR_SUCCESS};
    const DWORD writeBackError = writeInPlace(old, rootPath);
    if (writeBackError == ERROR_SUCCESS) return {KeyInstallResult::Failed, error};
    std::string now;
    if (readFileBytes(rootPath, now) == ERROR_SUCCESS && now == staged) return {KeyInstallResult::Installed, ERROR_SUCCESS};
    return {KeyInstallResult::Failed, writeBackError};
}

// The replaced root key file on disk before the import is reported done:
// a replace does not flush it.
void flushRootKey(const std::wstring& rootPath)
{
    const UniqueFileHandle root(CreateFileW(rootPath.c_str(), GENERIC_WRITE, kShareAll, NULL, OPEN_EXISTING, 0, NULL));
    if (root) (void)FlushFileBuffers(root.get());
}

// "name.import" or "name.import (N)": a staging file of this root key.
bool isStagingName(const std::wstring& name, const std::wstring& rootName)
{
    const std::wstring staging = rootName + kStagingSuffix;
    if (name.size() < staging.size() || CompareStringOrdinal(name.c_str(), static_cast<int>(staging.size()), staging.c_str(),
                                                             static_cast<int>(staging.size()), TRUE) != CSTR_EQUAL)
        return false;
    if (name.size() == staging.size()) return true;
    const std::wstring rest = name.substr(staging.size());
    if (rest.size() < 4 || rest.compare(0, 2, L" (") != 0 || rest.back() != L')') return false;
    for (size_t i = 2; i + 1 < rest.size(); ++i)
        if (rest[i] < L'0' || rest[i] > L'9') return false;
    return true;
}

// Deletes a staging file left by an import that was ended half-way, when
// it is a plain file of its own there: a link is never followed.
void removeLeftover(const std::wstring& path)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, NULL, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT, NULL));
    if (file && isOpenedAsItself(file.get(), path.c_str())) (void)markForDeletion(file.get());
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

void removeLeftoverStaging(const std::wstring& rootKeyPath)
{
    const size_t slash = rootKeyPath.find_last_of(L'\\');
    if (slash == std::wstring::npos) return;
    const std::wstring folder = rootKeyPath.substr(0, slash + 1);
    const std::wstring rootName = rootKeyPath.substr(slash + 1);
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(FindFirstFileW(fileSystemPath(rootKeyPath + kStagingSuffix + L"*").c_str(), &found));
    if (!search) return;
    std::vector<std::wstring> leftovers;
    do {
        if (isStagingName(found.cFileName, rootName)) leftovers.push_back(found.cFileName);
    } while (FindNextFileW(search.get(), &found));
    for (const std::wstring& name : leftovers) removeLeftover(fileSystemPath(folder + name));
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
        if (error != ERROR_SUCCESS && isHeldOpen(error, rootPath)) return installInPlace(stagedPath, rootPath);
        // The one failure after which the root key is not at its name: the
        // replaced file itself is at the backup name, and is renamed back
        // whole, with its own access list; never over a file that appeared.
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && GetFileAttributesW(rootPath.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !MoveFileExW(backup.c_str(), rootPath.c_str(), MOVEFILE_WRITE_THROUGH)) {
            // The staged key stays too: neither key is lost, and the next
            // import clears the staging file.
            return {KeyInstallResult::Failed, lastErrorOr(error)};
        }
    }
    if (error != ERROR_SUCCESS) {
        removeStaged(stagedPath);
        return {KeyInstallResult::Failed, error};
    }
    flushRootKey(rootPath);
    return {KeyInstallResult::Installed, ERROR_SUCCESS};
}

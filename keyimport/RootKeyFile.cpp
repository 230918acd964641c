#include "RootKeyFile.h"

#include <vector>

#include "Deletion.h"
#include "KeyCheck.h"
#include "PathForms.h"
#include "UniqueHandle.h"
#include "WinError.h"

namespace {

// Enough for every backup a user could make in one clock second; past it
// the import stops rather than replace anything.
const int kMaxNameTries = 1000;

// Staging files carry the root key file's name and this ending.
const wchar_t kStagingSuffix[] = L".import";

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kCopyChunk = 4096; // a key file is a few dozen bytes
// Far above any key file: a copy, and the bytes kept in memory, never
// exceed it, whatever the chosen file has become since the check.
const LONGLONG kMaxKeyFileBytes = LONGLONG{1024} * 1024;

// A key written in place is read back this often, this far apart: a
// program that holds the root key and writes it too shows in that time.
const int kSettleReads = 4;
const DWORD kSettlePauseMs = 25;

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

DWORD refusalError(const Opened& opened)
{
    switch (opened.refusal) {
    case Refusal::None:
        return ERROR_SUCCESS;
    case Refusal::Link:
    case Refusal::LinkInPath:
        return kErrorStoppedOnLink;
    case Refusal::NotFolder:
        return ERROR_DIRECTORY;
    case Refusal::NotFile:
        return ERROR_ACCESS_DENIED;
    default:
        return opened.error != ERROR_SUCCESS ? opened.error : ERROR_GEN_FAILURE;
    }
}

// The whole of an open file, from its start: a disk file of at most 1 MiB.
DWORD readWhole(HANDLE source, std::string& bytes)
{
    bytes.clear();
    if (GetFileType(source) != FILE_TYPE_DISK) return ERROR_NOT_SUPPORTED;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(source, &size)) return lastErrorOr(ERROR_READ_FAULT);
    if (size.QuadPart > kMaxKeyFileBytes) return ERROR_FILE_TOO_LARGE;
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

DWORD readOpened(HANDLE source, KeyFileBytes& key)
{
    if (GetFileType(source) != FILE_TYPE_DISK) return ERROR_NOT_SUPPORTED;
    if (!identityOf(source, key.identity) ||
        !GetFileInformationByHandleEx(source, FileBasicInfo, &key.basic, sizeof(key.basic)))
        return lastErrorOr(ERROR_READ_FAULT);
    return readWhole(source, key.bytes);
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

// Creates `name` new in the folder and writes `bytes` whole into it.
DWORD writeNewFile(const Opened& folder, const std::wstring& name, const std::string& bytes, CopyKind kind,
                   const FILE_BASIC_INFO& like)
{
    EntryRequest request;
    request.access = GENERIC_WRITE | DELETE;
    request.share = 0; // nobody reads half a key
    request.disposition = FILE_CREATE;
    // Encrypted as the root key is: only a file created encrypted is (EFS),
    // and nothing of a key lies in plain text beside an encrypted one.
    request.createAttributes = (like.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED) ? FILE_ATTRIBUTE_ENCRYPTED
                                                                                 : FILE_ATTRIBUTE_NORMAL;
    const Opened file = openEntry(folder, name, request);
    if (!file) return refusalError(file);
    DWORD error = writeWhole(bytes, file.handle.get());
    // A backup keeps the root key's attributes and time, as a file copy
    // does; a staged key its hidden and system marks (never read-only),
    // which the rename then puts at the root key's name.
    FILE_BASIC_INFO kept = {};
    const DWORD keptMarks = kind == CopyKind::Backup ? ~DWORD{FILE_ATTRIBUTE_ENCRYPTED}
                                                     : DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
    kept.FileAttributes = like.FileAttributes & keptMarks & ~DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT};
    if (kind == CopyKind::Backup) kept.LastWriteTime = like.LastWriteTime;
    if (error == ERROR_SUCCESS && (kept.FileAttributes != 0 || kind == CopyKind::Backup))
        (void)SetFileInformationByHandle(file.handle.get(), FileBasicInfo, &kept, sizeof(kept));
    if (error != ERROR_SUCCESS) {
        DeletionWays ways;
        (void)markForDeletion(file.handle.get(), ways); // goes when the handle closes
    }
    return error;
}

void removeStaged(const std::wstring& stagedPath)
{
    // Staged copies are never read-only, so they can always go.
    (void)DeleteFileW(stagedPath.c_str());
}

// A rename that failed because another program has the root key open,
// where writing into it is still possible.
bool isHeldOpen(DWORD error, const KeyFileBytes& root)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    return error == ERROR_ACCESS_DENIED && !(root.basic.FileAttributes & FILE_ATTRIBUTE_READONLY);
}

// Writes `bytes` into the existing root key file, which keeps its identity
// and whoever holds it open, then reads it back with full sharing until it
// has held still: only the same bytes, every time, count as written.
// Another program writing the file meanwhile is using it.
DWORD writeInPlace(const std::string& bytes, const std::wstring& rootPath)
{
    {
        const UniqueFileHandle root(CreateFileW(rootPath.c_str(), GENERIC_WRITE, kShareAll, NULL, OPEN_EXISTING, 0, NULL));
        if (!root) return lastErrorOr(ERROR_GEN_FAILURE);
        const DWORD error = writeWhole(bytes, root.get());
        if (error != ERROR_SUCCESS) return error;
    }
    for (int read = 0; read < kSettleReads; ++read) {
        if (read > 0) Sleep(kSettlePauseMs);
        std::string back;
        const DWORD error = readFileBytes(rootPath, back);
        if (error != ERROR_SUCCESS) return error;
        if (back != bytes) return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

// The chosen key written into the held root key. On any failure the root
// key's old bytes, kept in memory (a scanner may hold the backup), are
// written back; the outcome is the write's failure.
KeyInstall installInPlace(const std::string& newKey, const std::string& oldKey, const std::wstring& rootPath)
{
    const DWORD error = writeInPlace(newKey, rootPath);
    if (error == ERROR_SUCCESS) return {KeyInstallResult::Installed, ERROR_SUCCESS};
    const DWORD writeBackError = writeInPlace(oldKey, rootPath);
    return {KeyInstallResult::Failed, writeBackError == ERROR_SUCCESS || writeBackError == ERROR_SHARING_VIOLATION
                                          ? error
                                          : writeBackError};
}

// The replaced root key file on disk before the import is reported done:
// a rename does not flush the file.
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

} // namespace

bool makeRootKeySite(const std::wstring& rootKeyPath, RootKeySite& site)
{
    site = RootKeySite();
    const std::wstring longPath = longForm(rootKeyPath);
    std::wstring folder, name;
    if (longPath.empty() || !splitLastName(longPath, folder, name)) return false;
    site.plain = rootKeyPath;
    site.longPath = longPath;
    site.folder = folder;
    site.name = name;
    return true;
}

DWORD openRootKeyFolder(RootKeySite& site)
{
    site.folderHandle = openFolder(site.folder, 0, kShareAll);
    return refusalError(site.folderHandle);
}

DWORD readKeyFile(const std::wstring& path, KeyFileBytes& key)
{
    // Shared for everything: a running component may hold the file open.
    const UniqueFileHandle source(
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL));
    if (!source) return lastErrorOr(ERROR_GEN_FAILURE);
    return readOpened(source.get(), key);
}

DWORD readRootKey(const RootKeySite& site, KeyFileBytes& root)
{
    EntryRequest request;
    request.access = GENERIC_READ;
    const Opened file = openEntry(site.folderHandle, site.name, request);
    if (file.refusal == Refusal::Missing) return ERROR_FILE_NOT_FOUND;
    if (!file) return refusalError(file);
    return readOpened(file.handle.get(), root);
}

DWORD writeToFreeName(const Opened& folder, const std::wstring& name, const std::string& bytes, CopyKind kind,
                      const FILE_BASIC_INFO& like, std::wstring& used)
{
    DWORD error = ERROR_FILE_EXISTS;
    for (int number = 1; number <= kMaxNameTries && isNameTaken(error); ++number) {
        const std::wstring candidate = numberedName(name, number);
        error = writeNewFile(folder, candidate, bytes, kind, like);
        if (error == ERROR_SUCCESS) {
            used = candidate;
            return ERROR_SUCCESS;
        }
    }
    used.clear();
    return error;
}

void removeLeftoverStaging(const RootKeySite& site, const FileIdentity& keep)
{
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(FindFirstFileW((site.longPath + kStagingSuffix + L"*").c_str(), &found));
    if (!search) return;
    std::vector<std::wstring> leftovers;
    do {
        if (isStagingName(found.cFileName, site.name)) leftovers.push_back(found.cFileName);
    } while (FindNextFileW(search.get(), &found));
    for (const std::wstring& name : leftovers) {
        // Deleted through a handle checked to be that entry itself, with
        // one name, and not the file the user chose.
        EntryRequest request;
        request.access = DELETE | FILE_READ_ATTRIBUTES;
        const Opened file = openEntry(site.folderHandle, name, request);
        if (!file || file.links != 1 || sameIdentity(file.identity, keep)) continue;
        DeletionWays ways;
        (void)markForDeletion(file.handle.get(), ways);
    }
}

KeyInstall installKey(const RootKeySite& site, const KeyFileBytes& chosen, const KeyFileBytes* root)
{
    std::wstring stagedName;
    const FILE_BASIC_INFO like = root ? root->basic : FILE_BASIC_INFO{};
    const DWORD copyError =
        writeToFreeName(site.folderHandle, site.name + kStagingSuffix, chosen.bytes, CopyKind::Staged, like, stagedName);
    if (copyError != ERROR_SUCCESS) return {KeyInstallResult::Failed, copyError};

    const std::wstring stagedPath = site.beside(stagedName);
    // Checked again as it now lies beside the root key: what the library
    // accepted in the dialog is what goes in.
    if (!isUsableKeyFile(stagedPath)) {
        removeStaged(stagedPath);
        return {KeyInstallResult::Rejected, ERROR_SUCCESS};
    }
    // One rename: a kill at any moment leaves the old key or the new one at
    // the root key's name. Without a backup, a root key that appeared
    // meanwhile is not replaced.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (root ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(stagedPath.c_str(), site.longPath.c_str(), flags)) {
        flushRootKey(site.longPath);
        return {KeyInstallResult::Installed, ERROR_SUCCESS};
    }
    const DWORD error = lastErrorOr(ERROR_GEN_FAILURE);
    removeStaged(stagedPath);
    if (root && isHeldOpen(error, *root)) return installInPlace(chosen.bytes, root->bytes, site.longPath);
    return {KeyInstallResult::Failed, error};
}

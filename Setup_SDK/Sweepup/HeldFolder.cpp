#include "HeldFolder.h"

#include <winternl.h>

#include <cwchar>
#include <string>

#include "CleanupActs.h"
#include "Deletion.h"
#include "FileIdentity.h"
#include "FixedText.h"
#include "PathForms.h"
#include "SweepupConstants.h"
#include "WinError.h"

namespace {

// Room for a held folder (under MAX_PATH) and one entry name (255).
const std::size_t kEntryPathChars = 1024;
const std::size_t kMaxNameChars = 255;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Without delete sharing: nobody renames or deletes the folder meanwhile.
const DWORD kShareHeld = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kAttributesToReset = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const DWORD kUnknownAttributes = INVALID_FILE_ATTRIBUTES;

bool isReparsePoint(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Why a folder could not be held as itself; null when it was.
const wchar_t* reasonForRefusal(const Opened& folder)
{
    switch (folder.refusal) {
    case Refusal::None:
    case Refusal::Missing:
        return nullptr;
    case Refusal::Link:
        return REASON_LINK;
    case Refusal::LinkInPath:
        return REASON_LINK_IN_PATH;
    case Refusal::NotFolder:
        return REASON_NOT_FOLDER;
    default:
        return reasonForError(folder.error);
    }
}

// Opens an entry of the held folder by its name, through the file-identity
// layer: relative to the folder's handle, as itself, and named as the
// folder's own entry. Why not, in plain words, when it could not be.
Opened openHeldEntry(const Opened& folder, const wchar_t* name, std::size_t nameChars, ACCESS_MASK access, bool isFolder)
{
    EntryRequest request;
    request.access = access;
    request.folder = isFolder;
    request.check = EntryCheck::InHeldFolder;
    return openEntry(folder, std::wstring(name, nameChars), request);
}

// A root key file of the profile: the key, a backup ("ZIVORoot.key <date>"),
// or a staged key an import left ("ZIVORoot.key.import...").
bool isRootKeyName(const wchar_t* name, std::size_t nameChars)
{
    static const wchar_t kStaged[] = L".import";
    const std::size_t keyChars = wcslen(FILE_ROOT_KEY);
    if (nameChars < keyChars ||
        CompareStringOrdinal(name, static_cast<int>(keyChars), FILE_ROOT_KEY, static_cast<int>(keyChars), TRUE) != CSTR_EQUAL)
        return false;
    if (nameChars == keyChars || name[keyChars] == L' ') return true;
    const std::size_t stagedChars = wcslen(kStaged);
    return nameChars >= keyChars + stagedChars &&
           CompareStringOrdinal(name + keyChars, static_cast<int>(stagedChars), kStaged, static_cast<int>(stagedChars),
                                TRUE) == CSTR_EQUAL;
}

bool isInUse(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// FileCaseSensitiveInfo (Windows 10 1803), named here: a folder marked
// case-sensitive holds names that differ only in letter case.
const auto kFileCaseSensitiveInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(23);
const ULONG kCaseSensitiveFolder = 0x1;

bool isCaseSensitive(HANDLE folder)
{
    ULONG flags = 0;
    return GetFileInformationByHandleEx(folder, kFileCaseSensitiveInfo, &flags, sizeof(flags)) &&
           (flags & kCaseSensitiveFolder);
}

bool isDotEntry(const wchar_t* name, std::size_t nameChars)
{
    return (nameChars == 1 && name[0] == L'.') || (nameChars == 2 && name[0] == L'.' && name[1] == L'.');
}

} // namespace

bool normalisedPath(const wchar_t* path, wchar_t (&normalised)[MAX_PATH])
{
    wmemset(normalised, L'\0', MAX_PATH);
    if (path[0] == L'\0') return false;
    const DWORD chars = GetFullPathNameW(path, MAX_PATH, normalised, nullptr);
    if (chars == 0 || chars >= MAX_PATH) {
        wmemset(normalised, L'\0', MAX_PATH);
        return false;
    }
    // Short (8.3) names in their long form, as a final path gives them. A
    // path that does not exist stays as it is: there is nothing there. Only
    // a path with a tilde can hold a generated short name; asking for the
    // long form of every other would cost a search for each of its parts.
    if (wcschr(normalised, L'~')) {
        wchar_t longName[MAX_PATH] = {};
        const DWORD longChars = GetLongPathNameW(normalised, longName, MAX_PATH);
        if (longChars > 0 && longChars < MAX_PATH) wmemcpy(normalised, longName, MAX_PATH);
    }
    const std::size_t used = wcslen(normalised);
    const bool driveRoot = used == 3 && normalised[1] == L':';
    if (used > 1 && normalised[used - 1] == L'\\' && !driveRoot) normalised[used - 1] = L'\0';
    return true;
}

HeldFolder::HeldFolder(const wchar_t* path, FolderUse use, const std::wstring& goneSubfolder)
    : m_goneSubfolder(goneSubfolder)
{
    if (path[0] == L'\0') return;
    if (!normalisedPath(path, m_path)) {
        keepItem(path, REASON_PATH_TOO_LONG);
        return;
    }
    hold(use == FolderUse::SweepAndRemove);
}

bool HeldFolder::hold(bool withDelete)
{
    // Walked from its root, each part as itself (the file-identity layer).
    // The preview asks and lets go: it holds the folder for its walk only
    // with full sharing, and never with the right to delete it.
    const bool preview = isPreview();
    const DWORD share = preview ? kShareAll : kShareHeld;
    Opened folder;
    if (withDelete && !preview) {
        folder = openFolder(m_path, kFolderAccess | DELETE, share);
        m_canDelete = static_cast<bool>(folder);
    }
    if (!folder && (!withDelete || preview || folder.refusal == Refusal::Failed))
        folder = openFolder(m_path, preview ? FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE : kFolderAccess, share);
    if (!folder) {
        if (const wchar_t* reason = reasonForRefusal(folder)) keepItem(m_path, reason); // nothing there: nothing to keep
        return false;
    }
    m_caseSensitive = isCaseSensitive(folder.handle.get());
    m_folder = std::move(folder);
    return true;
}

bool HeldFolder::entryPath(const wchar_t* name, std::size_t nameChars, wchar_t (&path)[kEntryPathChars]) const
{
    wchar_t entryName[kMaxNameChars + 1];
    if (nameChars > kMaxNameChars) return false;
    wmemcpy(entryName, name, nameChars);
    entryName[nameChars] = L'\0';
    const std::size_t used = wcslen(m_path);
    const wchar_t* separator = used > 0 && m_path[used - 1] == L'\\' ? L"" : L"\\";
    return joinText(path, static_cast<const wchar_t*>(m_path), separator, static_cast<const wchar_t*>(entryName));
}

void HeldFolder::removeFiles()
{
    if (!m_folder) return;
    alignas(LONGLONG) BYTE listing[64 * 1024];
    while (GetFileInformationByHandleEx(m_folder.handle.get(), FileIdBothDirectoryInfo, listing, sizeof(listing))) {
        for (const BYTE* at = listing;;) {
            const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const std::size_t nameChars = entry.FileNameLength / sizeof(wchar_t);
            if (isDotEntry(entry.FileName, nameChars)) {
                // nothing to do
            } else if (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // Subfolders are not entered; they only have their attributes reset.
                keepEntry(entry.FileName, nameChars, isReparsePoint(entry.FileAttributes) ? REASON_LINK : REASON_SUBFOLDER);
                if (!isReparsePoint(entry.FileAttributes)) resetSubfolder(entry.FileName, nameChars);
            } else if (!removeFile(entry.FileName, nameChars, AttributeReset::SingleLinkOnly, entry.FileAttributes)) {
                ++m_keptInside;
            }
            if (entry.NextEntryOffset == 0) break;
            at += entry.NextEntryOffset;
        }
    }
}

void HeldFolder::keepEntry(const wchar_t* name, std::size_t nameChars, const wchar_t* reason)
{
    wchar_t path[kEntryPathChars];
    const bool named = entryPath(name, nameChars, path);
    // Gone by then: the log folder, removed before the public one.
    if (named && !m_goneSubfolder.empty() &&
        CompareStringOrdinal(path, -1, m_goneSubfolder.c_str(), static_cast<int>(m_goneSubfolder.size()), TRUE) == CSTR_EQUAL)
        return;
    ++m_keptInside;
    if (named) keepItem(path, reason);
}

void HeldFolder::resetSubfolder(const wchar_t* name, std::size_t nameChars)
{
    wchar_t expected[kEntryPathChars];
    if (!entryPath(name, nameChars, expected)) return;
    if (isPreview()) return; // nothing to change, nothing to ask
    const Opened subfolder = openHeldEntry(m_folder, name, nameChars, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, true);
    if (subfolder) (void)resetAttributes(subfolder.handle.get());
}

bool HeldFolder::removeFile(const wchar_t* name, AttributeReset reset)
{
    return removeFile(name, wcslen(name), reset, kUnknownAttributes);
}

// The entry is opened through the file-identity layer, with what deleting
// it needs, and the right to change its attributes only when they may
// have to be reset. A file that could not go as it is (read-only, with its
// attributes not to be reset) is left without a try.
bool HeldFolder::removeFile(const wchar_t* name, std::size_t nameChars, AttributeReset reset, DWORD knownAttributes)
{
    wchar_t expected[kEntryPathChars];
    if (!m_folder || nameChars == 0) return false;
    if (!entryPath(name, nameChars, expected)) {
        keepItem(std::wstring(m_path) + L"\\" + std::wstring(name, nameChars), REASON_PATH_TOO_LONG);
        return false;
    }
    const bool rootKey = isRootKeyName(name, nameChars);
    const bool mayReset = reset == AttributeReset::SingleLinkOnly;
    const bool mightReset = mayReset && (knownAttributes == kUnknownAttributes || (knownAttributes & kAttributesToReset));
    const Opened file = openHeldEntry(m_folder, name, nameChars,
                                      DELETE | FILE_READ_ATTRIBUTES | (mightReset ? FILE_WRITE_ATTRIBUTES : 0), false);
    if (!file) {
        if (file.refusal == Refusal::Link) {
            keepItem(expected, REASON_LINK);
        } else if (file.refusal != Refusal::Missing) {
            keepItem(expected, reasonForError(file.error));
            // Held by a running program: it goes once that program stops.
            if (rootKey && isInUse(file.error)) m_outcome.rootKeysHeld = true;
        }
        return false;
    }
    const DWORD attributes = file.attributes;
    if (!mayReset && (attributes & FILE_ATTRIBUTE_READONLY)) {
        keepItem(expected, REASON_READ_ONLY_SHORTCUT);
        return false;
    }
    const bool toReset = mayReset && (attributes & kAttributesToReset);
    // A file with more than one link shares its attributes with a name
    // elsewhere: it goes only if it can as it is, and read-only it cannot.
    if (toReset && file.links != 1 && (attributes & FILE_ATTRIBUTE_READONLY)) {
        keepItem(expected, REASON_READ_ONLY_LINKED);
        return false;
    }
    const FileDeletion deletion = {file.handle.get(), expected, attributes, toReset && file.links == 1, m_caseSensitive};
    if (!deleteHeldFile(deletion, m_ways)) return false;
    if (rootKey) m_outcome.rootKeysGo = true;
    return true;
}

bool HeldFolder::remove()
{
    if (!m_folder) return false;
    (void)resetAttributes(m_folder.handle.get());
    if (!m_canDelete) {
        // Held without DELETE while someone else had it open. Let go first:
        // this handle shares no deletion, so while it is open no one, this
        // program included, can open the folder with DELETE. Opened again,
        // it is removed only as the same folder, still itself at its path.
        // It is empty by then, or its removal is refused anyway.
        const FileIdentity held = m_folder.identity;
        m_folder = Opened();
        if (!hold(true)) return false;
        if (!sameIdentity(held, m_folder.identity)) {
            keepItem(m_path, REASON_LINK_IN_PATH); // another folder in its place meanwhile
            m_folder = Opened();
            return false;
        }
    }
    const bool removed = removeHeldFolder(m_folder.handle.get(), m_path, m_ways, m_keptInside);
    m_folder = Opened();
    return removed;
}

void deleteFileAt(const wchar_t* path, AttributeReset reset)
{
    // The folder keeps its last separator, so "C:\" stays a drive's root.
    std::size_t folderChars = wcslen(path);
    while (folderChars > 0 && !isSeparator(path[folderChars - 1])) --folderChars;
    if (folderChars == 0 || path[folderChars] == L'\0' || folderChars >= MAX_PATH) return;
    const std::wstring folder(path, folderChars);
    HeldFolder held(folder.c_str(), FolderUse::DeleteInside);
    (void)held.removeFile(path + folderChars, reset);
}

#include "HeldFolder.h"

#include <winternl.h>

#include <cwchar>
#include <string>

#include "CleanupActs.h"
#include "FileIdentity.h"
#include "FixedText.h"
#include "PathForms.h"
#include "WinError.h"

namespace {

// Room for a held folder (under MAX_PATH) and one entry name (255).
const std::size_t kEntryPathChars = 1024;
const std::size_t kMaxNameChars = 255;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Without delete sharing: nobody renames or deletes the folder meanwhile.
const DWORD kShareHeld = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kFolderFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
const DWORD kAttributesToReset = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const DWORD kUnknownAttributes = INVALID_FILE_ATTRIBUTES;

bool isReparsePoint(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Attributes and link count by handle, without the volume's serial number
// that GetFileInformationByHandle adds: on Wine that one asks the mount
// manager, at several times the cost of the rest of a file's removal.
bool attributesOf(HANDLE object, DWORD& attributes)
{
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(object, FileBasicInfo, &basic, sizeof(basic))) return false;
    attributes = basic.FileAttributes;
    return true;
}

bool linkCountOf(HANDLE object, DWORD& links)
{
    FILE_STANDARD_INFO standard = {};
    if (!GetFileInformationByHandleEx(object, FileStandardInfo, &standard, sizeof(standard))) return false;
    links = standard.NumberOfLinks;
    return true;
}

// True when the open entry's final path, links resolved, is the held
// folder's own final path plus the entry's name: like with like, so a
// substituted or mapped drive, a share or a volume mounted in a folder
// names both the same way.
bool isEntryOf(HANDLE entry, const std::wstring& folderFinal, const wchar_t* name, std::size_t nameChars)
{
    std::wstring final;
    if (!finalPathOf(entry, final)) return false;
    std::wstring expected = folderFinal;
    if (!expected.empty() && expected.back() != L'\\') expected += L'\\';
    expected.append(name, nameChars);
    return CompareStringOrdinal(final.c_str(), static_cast<int>(final.size()), expected.c_str(),
                                static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
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

// Opens an entry of the held folder by its name, relative to the folder's
// handle, as itself: a link there is not followed where the platform can
// open links as themselves.
UniqueHandle openEntry(HANDLE folder, const wchar_t* name, std::size_t nameChars, ACCESS_MASK access, ULONG kind,
                       DWORD* error = nullptr)
{
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name);
    text.Length = text.MaximumLength = static_cast<USHORT>(nameChars * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status = {};
    HANDLE entry = nullptr;
    const NTSTATUS result =
        NtCreateFile(&entry, access | SYNCHRONIZE, &attributes, &status, nullptr, 0, kShareAll, FILE_OPEN,
                     kind | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (error) *error = result >= 0 ? ERROR_SUCCESS : RtlNtStatusToDosError(result);
    return UniqueHandle(result >= 0 ? entry : nullptr);
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
        wchar_t longForm[MAX_PATH] = {};
        const DWORD longChars = GetLongPathNameW(normalised, longForm, MAX_PATH);
        if (longChars > 0 && longChars < MAX_PATH) wmemcpy(normalised, longForm, MAX_PATH);
    }
    const std::size_t used = wcslen(normalised);
    const bool driveRoot = used == 3 && normalised[1] == L':';
    if (used > 1 && normalised[used - 1] == L'\\' && !driveRoot) normalised[used - 1] = L'\0';
    return true;
}

HeldFolder::HeldFolder(const wchar_t* path, FolderUse use)
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
    Opened folder;
    if (withDelete) {
        folder = openFolder(m_path, kFolderAccess | DELETE, kShareHeld);
        m_canDelete = static_cast<bool>(folder);
    }
    if (!folder && (!withDelete || folder.refusal == Refusal::Failed))
        folder = openFolder(m_path, kFolderAccess, kShareHeld);
    if (!folder) {
        if (const wchar_t* reason = reasonForRefusal(folder)) keepItem(m_path, reason); // nothing there: nothing to keep
        return false;
    }
    m_final = folder.finalPath;
    m_identity = folder.identity;
    m_handle.reset(folder.handle.release());
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
    if (!m_handle) return;
    alignas(LONGLONG) BYTE listing[64 * 1024];
    while (GetFileInformationByHandleEx(m_handle.get(), FileIdBothDirectoryInfo, listing, sizeof(listing))) {
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
    if (named && isListedAsRemoved(path)) return; // gone by then: the log folder, before the public one
    ++m_keptInside;
    if (named) keepItem(path, reason);
}

void HeldFolder::resetSubfolder(const wchar_t* name, std::size_t nameChars)
{
    wchar_t expected[kEntryPathChars];
    if (!entryPath(name, nameChars, expected)) return;
    const UniqueHandle subfolder =
        openEntry(m_handle.get(), name, nameChars, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_DIRECTORY_FILE);
    if (subfolder && isEntryOf(subfolder.get(), m_final, name, nameChars)) (void)resetAttributes(subfolder.get());
}

void HeldFolder::removeFile(const wchar_t* name, AttributeReset reset)
{
    (void)removeFile(name, wcslen(name), reset, kUnknownAttributes);
}

// Where the platform opens a link's target in spite of the request (Wine),
// the final path shows it, and the entry is left alone. The entry is opened
// with what deleting it needs; the right to change its attributes only when
// they must be reset. A file that could not go as it is (read-only, with
// its attributes not to be reset) is left without a try.
bool HeldFolder::removeFile(const wchar_t* name, std::size_t nameChars, AttributeReset reset, DWORD knownAttributes)
{
    wchar_t expected[kEntryPathChars];
    if (!m_handle || nameChars == 0) return false;
    if (!entryPath(name, nameChars, expected)) {
        keepItem(std::wstring(m_path) + L"\\" + std::wstring(name, nameChars), REASON_PATH_TOO_LONG);
        return false;
    }
    const bool mayReset = reset == AttributeReset::SingleLinkOnly;
    const bool mustReset = mayReset && knownAttributes != kUnknownAttributes && (knownAttributes & kAttributesToReset);
    const ACCESS_MASK deleteAccess = DELETE | FILE_READ_ATTRIBUTES;
    DWORD error = ERROR_SUCCESS;
    UniqueHandle file = openEntry(m_handle.get(), name, nameChars, deleteAccess | (mustReset ? FILE_WRITE_ATTRIBUTES : 0),
                                  FILE_NON_DIRECTORY_FILE, &error);
    if (!file) {
        if (!isMissingError(error)) keepItem(expected, reasonForError(error));
        return false;
    }
    if (!isEntryOf(file.get(), m_final, name, nameChars)) {
        keepItem(expected, REASON_LINK);
        return false;
    }
    DWORD attributes = knownAttributes;
    if (attributes == kUnknownAttributes && !attributesOf(file.get(), attributes)) return false;
    if (!mayReset) {
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            keepItem(expected, REASON_READ_ONLY_SHORTCUT);
            return false;
        }
    } else if (attributes & kAttributesToReset) {
        if (!mustReset) {
            // Opened again with the right to reset them, and checked again.
            file = openEntry(m_handle.get(), name, nameChars, deleteAccess | FILE_WRITE_ATTRIBUTES, FILE_NON_DIRECTORY_FILE,
                             &error);
            if (!file || !isEntryOf(file.get(), m_final, name, nameChars) || !attributesOf(file.get(), attributes)) {
                keepItem(expected, file ? REASON_LINK : reasonForError(error));
                return false;
            }
        }
        // A file with more than one link shares its attributes with a name
        // elsewhere: it goes only if it can as it is, and read-only it cannot.
        DWORD links = 0;
        if (!linkCountOf(file.get(), links)) return false;
        if (links != 1) {
            if (attributes & FILE_ATTRIBUTE_READONLY) {
                keepItem(expected, REASON_READ_ONLY_LINKED);
                return false;
            }
        } else {
            (void)resetAttributes(file.get());
        }
    }
    deleteHeldFile(file.get(), expected, m_posixRefused);
    return true;
}

void HeldFolder::remove()
{
    if (!m_handle) return;
    (void)resetAttributes(m_handle.get());
    if (!m_canDelete) {
        // Held without DELETE while someone else had it open. Let go first:
        // this handle shares no deletion, so while it is open no one, this
        // program included, can open the folder with DELETE. Opened again,
        // it is removed only as the same folder, still itself at its path.
        // It is empty by then, or its removal is refused anyway.
        const FileIdentity held = m_identity;
        m_handle.reset();
        if (!hold(true)) return;
        if (!sameIdentity(held, m_identity)) {
            keepItem(m_path, REASON_LINK_IN_PATH); // another folder in its place meanwhile
            m_handle.reset();
            return;
        }
    }
    removeHeldFolder(m_handle.get(), m_path, m_posixRefused, m_keptInside);
    m_handle.reset();
}

void deleteFileAt(const wchar_t* path, AttributeReset reset)
{
    // The folder keeps its last separator, so "C:\" stays a drive's root.
    std::size_t folderChars = wcslen(path);
    while (folderChars > 0 && !isSeparator(path[folderChars - 1])) --folderChars;
    if (folderChars == 0 || path[folderChars] == L'\0' || folderChars >= MAX_PATH) return;
    const std::wstring folder(path, folderChars);
    HeldFolder held(folder.c_str(), FolderUse::DeleteInside);
    held.removeFile(path + folderChars, reset);
}

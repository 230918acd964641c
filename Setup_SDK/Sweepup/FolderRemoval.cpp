#include "FolderRemoval.h"

#include <winternl.h>

#include <cwchar>

#include "UniqueHandle.h"
#include "FixedText.h"
#include "OutsideValues.h"
#include "SweepupConstants.h"

namespace {

// Room for a swept folder (under MAX_PATH) and one entry name (255).
const std::size_t kEntryPathChars = 1024;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kAttributesToReset = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool isReparsePoint(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool setAttributes(HANDLE object, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes;
    return SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
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

bool markForDeletion(HANDLE object)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(object, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// True when the open object's final path, links resolved, is `expected`
// (compared without regard to case).
bool hasFinalPath(HANDLE object, const wchar_t* expected)
{
    wchar_t final[kEntryPathChars];
    const DWORD chars = GetFinalPathNameByHandleW(object, final, kEntryPathChars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (chars == 0 || chars >= kEntryPathChars) return false;
    // "\\?\C:\..." or "\\?\UNC\server\share\...", compared in plain form.
    if (wcsncmp(final, L"\\\\?\\UNC\\", 8) == 0)
        return wcsncmp(expected, L"\\\\", 2) == 0 &&
               CompareStringOrdinal(final + 8, -1, expected + 2, -1, TRUE) == CSTR_EQUAL;
    const wchar_t* plain = wcsncmp(final, L"\\\\?\\", 4) == 0 ? final + 4 : final;
    return CompareStringOrdinal(plain, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// Opens an entry of the held folder by its name, relative to the folder's
// handle, as itself: a link there is not followed where the platform can
// open links as themselves.
UniqueHandle openEntry(HANDLE folder, const wchar_t* name, ULONG nameBytes, ACCESS_MASK access, ULONG kind)
{
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name);
    text.Length = text.MaximumLength = static_cast<USHORT>(nameBytes);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status = {};
    HANDLE entry = nullptr;
    const NTSTATUS result =
        NtCreateFile(&entry, access | SYNCHRONIZE, &attributes, &status, nullptr, 0, kShareAll, FILE_OPEN,
                     kind | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    return UniqueHandle(result >= 0 ? entry : nullptr);
}

// One entry of a swept folder whose final path is `folderPath`. Where the
// platform opens a link's target in spite of the request (Wine), the final
// path shows it, and the entry is left alone.
void removeEntry(HANDLE folder, const wchar_t* folderPath, const FILE_ID_BOTH_DIR_INFO& listed)
{
    const wchar_t* name = listed.FileName;
    const ULONG nameChars = listed.FileNameLength / sizeof(wchar_t);
    if ((nameChars == 1 && name[0] == L'.') || (nameChars == 2 && name[0] == L'.' && name[1] == L'.')) return;

    wchar_t expected[kEntryPathChars];
    wchar_t entryName[256];
    if (nameChars >= 256) return;
    wmemcpy(entryName, name, nameChars);
    entryName[nameChars] = L'\0';
    if (!joinText(expected, folderPath, L"\\", static_cast<const wchar_t*>(entryName))) return;

    if (listed.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // Subfolders are not entered; they only have their attributes reset.
        if (isReparsePoint(listed.FileAttributes)) return;
        const UniqueHandle subfolder = openEntry(folder, name, listed.FileNameLength,
                                                 FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_DIRECTORY_FILE);
        if (subfolder && hasFinalPath(subfolder.get(), expected)) (void)setAttributes(subfolder.get(), FILE_ATTRIBUTE_NORMAL);
        return;
    }

    const UniqueHandle file = openEntry(folder, name, listed.FileNameLength,
                                        DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_NON_DIRECTORY_FILE);
    if (!file || !hasFinalPath(file.get(), expected)) return;
    if (listed.FileAttributes & kAttributesToReset) {
        // A file with more than one link shares its attributes with a name
        // outside this folder: it goes only if it can as it is.
        DWORD links = 0;
        if (!linkCountOf(file.get(), links)) return;
        if (links == 1) (void)setAttributes(file.get(), FILE_ATTRIBUTE_NORMAL);
    }
    (void)markForDeletion(file.get()); // the file goes when its handle closes
}

} // namespace

void removeFolder(const std::wstring& folder)
{
    if (folder.empty()) return;
    // The path as the system resolves it, "." and ".." and doubled
    // separators included: what a final path is compared with.
    wchar_t expected[MAX_PATH];
    const DWORD chars = GetFullPathNameW(folder.c_str(), MAX_PATH, expected, nullptr);
    if (chars == 0 || chars >= MAX_PATH) return;

    // Held without delete sharing while the files go, so the folder cannot
    // be renamed or swapped for a link during the sweep; it is removed
    // through this handle too, never by its path again.
    const UniqueFileHandle held(CreateFileW(expected,
                                            FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE |
                                                SYNCHRONIZE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held) return;
    DWORD attributes = 0;
    if (!attributesOf(held.get(), attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || isReparsePoint(attributes) ||
        !hasFinalPath(held.get(), expected))
        return;

    alignas(LONGLONG) BYTE listing[64 * 1024];
    while (GetFileInformationByHandleEx(held.get(), FileIdBothDirectoryInfo, listing, sizeof(listing))) {
        for (const BYTE* at = listing;;) {
            const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            removeEntry(held.get(), expected, entry);
            if (entry.NextEntryOffset == 0) break;
            at += entry.NextEntryOffset;
        }
    }

    (void)setAttributes(held.get(), FILE_ATTRIBUTE_NORMAL);
    (void)markForDeletion(held.get()); // refused while anything is left in it
}

std::wstring getRoamingDataPath(const std::wstring& identifier)
{
    wchar_t keyPath[MAX_PATH];
    if (!joinText(keyPath, KEY_PROFILE_LIST, identifier.c_str())) return {};
    wchar_t profile[kRegistryTextChars];
    if (!readRegistryPath(keyPath, VALUE_PROFILE_IMAGE_PATH, KEY_READ | KEY_WOW64_64KEY, profile)) return {};
    wchar_t path[MAX_PATH];
    if (!joinText(path, static_cast<const wchar_t*>(profile), DIR_ROAMING_DATA)) return {};
    return path;
}

void removeRoamingData()
{
    UniqueRegKey list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY_PROFILE_LIST, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return;
    DWORD subKeys = 0;
    if (RegQueryInfoKeyW(list.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; index < subKeys; ++index) {
        wchar_t name[MAX_PATH] = {};
        (void)RegEnumKeyW(list.get(), index, name, MAX_PATH);
        if (wcslen(name) > 8) removeFolder(getRoamingDataPath(name));
    }
}

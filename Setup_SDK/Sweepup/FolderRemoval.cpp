#include "FolderRemoval.h"

#include <shlwapi.h>

#include <cwchar>

#include "../../handles/UniqueHandle.h"
#include "../FixedText.h"
#include "SweepupConstants.h"

namespace {

bool isReparsePoint(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens the object at `path` itself, never what a link there points to.
UniqueFileHandle openWithoutFollowing(const wchar_t* path, DWORD access, DWORD share)
{
    return UniqueFileHandle(CreateFileW(path, access, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// True when the handle's object is a link, or the path names one (Wine
// follows links on open but shows a link to a folder by its path).
bool isLink(HANDLE object, const wchar_t* path)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(object, &info)) return true;
    return isReparsePoint(info.dwFileAttributes) || isReparsePoint(GetFileAttributesW(path));
}

bool setAttributes(HANDLE object, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes;
    return SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

const DWORD kAttributesToReset = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// One entry of a swept folder, always opened as itself, so a link that
// takes its place is never followed: a link to a file goes, its target
// stays. Subfolders only have their attributes reset; links to folders are
// left as they are.
void removeEntry(const wchar_t* path, DWORD listedAttributes)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (isReparsePoint(listedAttributes)) return;
        UniqueFileHandle folder = openWithoutFollowing(path, FILE_WRITE_ATTRIBUTES, share);
        if (folder) (void)setAttributes(folder.get(), FILE_ATTRIBUTE_NORMAL);
        return;
    }
    // Without backup semantics a folder does not open here: an entry that
    // became a folder since it was listed is not deleted.
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT;
    if (!(listedAttributes & kAttributesToReset)) {
        // Deleted when the handle closes: the common case costs one open.
        UniqueFileHandle file(
            CreateFileW(path, DELETE, share, nullptr, OPEN_EXISTING, flags | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file) return;
    }
    UniqueFileHandle file(CreateFileW(path, DELETE | FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!file || !setAttributes(file.get(), FILE_ATTRIBUTE_NORMAL)) return;
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    (void)SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

} // namespace

bool registryTextFits(const wchar_t (&value)[256])
{
    return wcsnlen(value, 256) < 256;
}

void removeFolder(const std::wstring& folder)
{
    if (folder.empty() || !PathFileExistsW(folder.c_str())) return;

    // Held without delete sharing while the files go, so the folder cannot
    // be swapped for a link between the check and the sweep.
    UniqueFileHandle held = openWithoutFollowing(folder.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!held || isLink(held.get(), folder.c_str())) return;

    wchar_t prefix[MAX_PATH];
    wchar_t pattern[MAX_PATH];
    if (!joinText(prefix, folder.c_str(), L"\\") || !joinText(pattern, static_cast<const wchar_t*>(prefix), L"*.*"))
        return;

    WIN32_FIND_DATAW data;
    // No short names needed, and the listing fetched in large batches.
    UniqueFindHandle search(
        FindFirstFileExW(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (search) {
        do {
            if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
            wchar_t entry[MAX_PATH];
            if (joinText(entry, static_cast<const wchar_t*>(prefix), static_cast<const wchar_t*>(data.cFileName)))
                removeEntry(entry, data.dwFileAttributes);
        } while (FindNextFileW(search.get(), &data));
    }
    search.reset();

    (void)setAttributes(held.get(), FILE_ATTRIBUTE_NORMAL);
    held.reset();
    (void)RemoveDirectoryW(folder.c_str());
}

std::wstring getRoamingDataPath(const std::wstring& identifier)
{
    wchar_t keyPath[MAX_PATH];
    if (!joinText(keyPath, KEY_PROFILE_LIST, identifier.c_str())) return {};
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return {};
    wchar_t value[256] = {};
    DWORD bytes = sizeof(value);
    if (RegQueryValueExW(key.get(), VALUE_PROFILE_IMAGE_PATH, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                         &bytes) != ERROR_SUCCESS ||
        !registryTextFits(value))
        return {};
    wchar_t path[MAX_PATH];
    if (!joinText(path, static_cast<const wchar_t*>(value), DIR_ROAMING_DATA)) return {};
    return path;
}

LONG removeRoamingData()
{
    UniqueRegKey list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY_PROFILE_LIST, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return 0;
    DWORD subKeys = 0;
    if (RegQueryInfoKeyW(list.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    for (DWORD index = 0; index < subKeys; ++index) {
        wchar_t name[MAX_PATH] = {};
        (void)RegEnumKeyW(list.get(), index, name, MAX_PATH);
        if (wcslen(name) > 8) removeFolder(getRoamingDataPath(name));
    }
    return 0;
}

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

// True when the handle's object is a link, or the path now names one.
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

// One entry of a swept folder: attributes reset and the file deleted through
// one handle to the entry itself. A subfolder only has its attributes reset;
// a link to a folder stays untouched; a link to a file goes, its target stays.
void removeEntry(const wchar_t* path, DWORD listedAttributes)
{
    if (isReparsePoint(listedAttributes)) {
        if (!(listedAttributes & FILE_ATTRIBUTE_DIRECTORY)) (void)DeleteFileW(path);
        return;
    }
    UniqueFileHandle entry = openWithoutFollowing(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!entry || isLink(entry.get(), path)) return; // swapped for a link since it was listed
    (void)setAttributes(entry.get(), FILE_ATTRIBUTE_NORMAL);
    if (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    (void)SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition, sizeof(disposition));
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
    UniqueFindHandle search(FindFirstFileW(pattern, &data));
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

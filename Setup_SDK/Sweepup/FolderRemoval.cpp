#include "FolderRemoval.h"

#include <cwchar>
#include <vector>

#include "CleanupActs.h"
#include "FixedText.h"
#include "HeldFolder.h"
#include "OutsideValues.h"
#include "SweepupConstants.h"
#include "UniqueHandle.h"

SweepOutcome removeFolder(const std::wstring& folder, const std::wstring& goneSubfolder)
{
    // Held while its files go, so it cannot be swapped half-way.
    HeldFolder held(folder.c_str(), FolderUse::SweepAndRemove, goneSubfolder);
    if (!held) return {};
    held.removeFiles();
    const bool removed = held.remove();
    SweepOutcome outcome = held.outcome();
    outcome.removed = removed;
    return outcome;
}

std::wstring getRoamingDataPath(const std::wstring& identifier)
{
    wchar_t keyPath[MAX_PATH];
    if (!joinText(keyPath, KEY_PROFILE_LIST, identifier.c_str())) return {};
    wchar_t profile[kRegistryTextChars];
    const PathValue read = readRegistryPath(keyPath, VALUE_PROFILE_IMAGE_PATH, KEY_READ | KEY_WOW64_64KEY, profile);
    if (read == PathValue::NotAbsolute)
        keepItem(std::wstring(L"HKLM\\") + keyPath + L"\\" + VALUE_PROFILE_IMAGE_PATH, REASON_PROFILE_NOT_ABSOLUTE);
    if (read != PathValue::Usable) return {};
    wchar_t path[MAX_PATH];
    if (!joinText(path, static_cast<const wchar_t*>(profile), DIR_ROAMING_DATA)) {
        keepItem(std::wstring(profile) + DIR_ROAMING_DATA, REASON_PATH_TOO_LONG);
        return {};
    }
    return path;
}

std::vector<std::wstring> profileNames()
{
    std::vector<std::wstring> names;
    UniqueRegKey list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY_PROFILE_LIST, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[MAX_PATH] = {};
        if (RegEnumKeyW(list.get(), index, name, MAX_PATH) != ERROR_SUCCESS) break; // the end, or the list is gone
        names.emplace_back(name);
    }
    return names;
}

void removeRoamingData()
{
    // All names first: profiles added or removed during the sweep, which
    // takes far longer than the reading, then shift no index.
    for (const std::wstring& name : profileNames()) {
        if (name.size() <= 8) continue;
        const std::wstring folder = getRoamingDataPath(name);
        if (folder.empty()) continue;
        // The profile whose root key files go with its data.
        noteProfileKeys(folder.substr(0, folder.size() - wcslen(DIR_ROAMING_DATA)), removeFolder(folder));
    }
}

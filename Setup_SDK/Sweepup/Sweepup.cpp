// Deletes what package removal leaves behind, when started with
// "/Uninstall": per-profile data, shared data and log folders, six install
// files, shortcuts and two Run values. Silent; exit code always 0. Started
// with "/Preview", it makes every decision the same way and lists what it
// would delete and what it would leave, and why, changing nothing.
#include <windows.h>
#include <userenv.h>

#include <cwchar>
#include <string>

#include "UniqueHandle.h"
#include "CleanupActs.h"
#include "FixedText.h"
#include "OutsideValues.h"
#include "SetupConstants.h"
#include "FolderRemoval.h"
#include "HeldFolder.h"
#include "SweepupConstants.h"

namespace {

const LANGID kShortcutLanguages[] = {
    0x0405, 0x0408, 0x0406, 0x0410, 0x0413, 0x040B, 0x040C, 0x0415, 0x0419, 0x0407, 0x040E,
    0x0414, 0x0816, 0x041B, 0x0C0A, 0x041D, 0x041F, 0x0804, 0x0404, 0x0409, 0x0411, 0x0412,
};
const int kShortcutLanguageCount = sizeof(kShortcutLanguages) / sizeof(kShortcutLanguages[0]);

// The system drive for shortcut paths: empty when it is not set (the paths
// then start at the root of the current drive); false when it does not fit.
bool shortcutDrive(wchar_t (&drive)[MAX_PATH])
{
    return readEnvironment(ENV_SYSTEM_DRIVE, drive) || GetEnvironmentVariableW(ENV_SYSTEM_DRIVE, nullptr, 0) == 0;
}

// Every step below is best effort: what cannot be read or deleted is
// skipped in silence, and the next step runs.

// The product folder under the all-users profile directory, when the
// system names that directory.
void removeAllUsersData()
{
    wchar_t profile[MAX_PATH] = {};
    DWORD chars = MAX_PATH;
    if (!GetAllUsersProfileDirectoryW(profile, &chars)) return;
    wchar_t folder[MAX_PATH];
    if (joinText(folder, static_cast<const wchar_t*>(profile), DIR_SHARED_DATA)) removeFolder(folder);
}

// A folder on the system drive, when the system drive is known; its path
// when it went, else empty.
std::wstring removeSystemDriveFolder(const wchar_t* relative, const std::wstring& goneSubfolder = {})
{
    wchar_t drive[MAX_PATH];
    if (!readEnvironment(ENV_SYSTEM_DRIVE, drive)) return {};
    wchar_t folder[MAX_PATH];
    if (!joinText(folder, static_cast<const wchar_t*>(drive), relative)) return {};
    return removeFolder(folder, goneSubfolder).removed ? std::wstring(folder) : std::wstring();
}

// The log folder first: it has to be gone before its parent can be empty.
void removePublicFolders()
{
    const std::wstring logs = removeSystemDriveFolder(DIR_PUBLIC_LOGS);
    (void)removeSystemDriveFolder(DIR_PUBLIC_DATA, logs);
}

void deleteInstallFiles()
{
    // No install folder known as a whole, absolute path ending in a
    // backslash: nothing to delete, and nowhere else to look. Without the
    // backslash the names would run into the folder's and name files
    // beside it.
    wchar_t folder[kRegistryTextChars];
    const PathValue read = readInstallFolder(folder);
    const std::wstring value = std::wstring(L"HKLM\\") + KEY_PRODUCT + VALUE_INSTALL_PATH;
    if (read == PathValue::NotAbsolute) keepItem(value, REASON_NOT_ABSOLUTE);
    if (read == PathValue::NoTrailingBackslash) keepItem(value, REASON_NO_BACKSLASH);
    if (read != PathValue::Usable) return;
    for (int index = INSTALL_FOLDER_FILE_COUNT - 1; index >= 0; --index) {
        wchar_t path[MAX_PATH];
        if (joinText(path, static_cast<const wchar_t*>(folder), INSTALL_FOLDER_FILES[index]))
            deleteFileAt(path, AttributeReset::SingleLinkOnly);
    }
}

const wchar_t* getStartMenuFolder(LANGID /*language*/)
{
    return DIR_START_MENU_UTILITIES; // one folder name in every language
}

// False when the system drive does not fit its buffer: the item is skipped.
bool buildShortcutFolder(std::wstring& folder, LANGID language)
{
    wchar_t drive[MAX_PATH];
    if (!shortcutDrive(drive)) return false;
    folder += drive;
    folder += getStartMenuFolder(language);
    folder += L"\\";
    return true;
}

void deleteShortcut(const std::wstring& folder, const wchar_t* name)
{
    const std::wstring path = folder + name;
    if (path.size() < MAX_PATH) deleteFileAt(path.c_str(), AttributeReset::Never); // a read-only shortcut stays
}

void deleteRunValue(const wchar_t* name)
{
    const std::wstring shown = std::wstring(L"HKLM\\") + KEY_RUN + name;
    UniqueRegKey key;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY_RUN, 0, KEY_ALL_ACCESS, key.put());
    if (opened != ERROR_SUCCESS) {
        if (opened != ERROR_FILE_NOT_FOUND) keepItem(shown, reasonForError(static_cast<DWORD>(opened)));
        return;
    }
    deleteRegistryValue(key.get(), name, shown);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 0;
    const bool preview = wcscmp(argv[1], SWITCH_PREVIEW) == 0;
    if (!preview && wcscmp(argv[1], SWITCH_UNINSTALL) != 0) return 0;
    setCleanupMode(preview ? CleanupMode::Preview : CleanupMode::Delete);

    removeRoamingData();
    removeAllUsersData();
    removePublicFolders();
    deleteInstallFiles();

    wchar_t systemDrive[MAX_PATH];
    const bool driveFits = shortcutDrive(systemDrive);

    std::wstring shortcutFolders[kShortcutLanguageCount];
    bool folderKnown[kShortcutLanguageCount] = {};
    for (int i = 0; i < kShortcutLanguageCount; ++i)
        folderKnown[i] = buildShortcutFolder(shortcutFolders[i], kShortcutLanguages[i]);
    for (int i = 0; i < kShortcutLanguageCount; ++i) {
        if (!folderKnown[i]) continue;
        deleteShortcut(shortcutFolders[i], LNK_PRODUCT);
        deleteShortcut(shortcutFolders[i], LNK_RECOVERY);
    }

    if (driveFits) {
        const std::wstring startup = std::wstring(systemDrive) + DIR_STARTUP;
        deleteShortcut(startup, LNK_STARTUP_VAULT);
        deleteShortcut(startup, LNK_STARTUP_TRAY);
    }

    deleteRunValue(VALUE_RUN_VAULT);
    deleteRunValue(VALUE_RUN_AGENT);
    printSummary();
    return 0;
}

#include "OutsideValues.h"

#include <cwchar>

#include "PathForms.h"
#include "SetupConstants.h"
#include "UniqueHandle.h"


bool pathFromRegistryValue(DWORD type, const wchar_t (&raw)[kRegistryTextChars], DWORD bytes,
                           wchar_t (&path)[kRegistryTextChars])
{
    wmemset(path, L'\0', kRegistryTextChars);
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // 512 bytes without a zero among them are not a whole path.
    if (bytes > sizeof(raw) || wcsnlen(raw, kRegistryTextChars) >= kRegistryTextChars) return false;
    if (type == REG_EXPAND_SZ) {
        const DWORD chars = ExpandEnvironmentStringsW(raw, path, static_cast<DWORD>(kRegistryTextChars));
        if (chars == 0 || chars > kRegistryTextChars) {
            wmemset(path, L'\0', kRegistryTextChars);
            return false;
        }
    } else {
        wmemcpy(path, raw, kRegistryTextChars);
    }
    if (startsAtDriveOrShare(path)) return true;
    wmemset(path, L'\0', kRegistryTextChars);
    return false;
}

PathValue readRegistryPath(const wchar_t* subKey, const wchar_t* valueName, REGSAM access,
                           wchar_t (&path)[kRegistryTextChars])
{
    wmemset(path, L'\0', kRegistryTextChars);
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, access, key.put()) != ERROR_SUCCESS) return PathValue::Absent;
    wchar_t raw[kRegistryTextChars] = {};
    DWORD bytes = sizeof(raw);
    DWORD type = REG_NONE;
    const LSTATUS read = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(raw), &bytes);
    if (read == ERROR_FILE_NOT_FOUND) return PathValue::Absent;
    if (read != ERROR_SUCCESS) return PathValue::NotAbsolute; // longer than its buffer
    return pathFromRegistryValue(type, raw, bytes, path) ? PathValue::Usable : PathValue::NotAbsolute;
}

bool readEnvironment(const wchar_t* name, wchar_t (&value)[MAX_PATH])
{
    wmemset(value, L'\0', MAX_PATH);
    const DWORD chars = GetEnvironmentVariableW(name, value, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        value[0] = L'\0';
        return false;
    }
    return true;
}

PathValue readInstallFolder(wchar_t (&folder)[kRegistryTextChars])
{
    const PathValue read = readRegistryPath(KEY_PRODUCT, VALUE_INSTALL_PATH, KEY_READ, folder);
    if (read != PathValue::Usable) return read;
    const std::size_t chars = wcslen(folder);
    if (chars > 0 && isSeparator(folder[chars - 1])) return PathValue::Usable;
    wmemset(folder, L'\0', kRegistryTextChars);
    return PathValue::NoTrailingBackslash;
}

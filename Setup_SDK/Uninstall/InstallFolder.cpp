#include "InstallFolder.h"

#include <cwchar>

#include "../../handles/UniqueHandle.h"
#include "../FixedText.h"
#include "../SetupConstants.h"
#include "UninstallConstants.h"

bool installFolderFromValue(DWORD type, const wchar_t (&value)[kInstallFolderChars], DWORD bytes,
                            wchar_t (&folder)[kInstallFolderChars])
{
    folder[0] = L'\0';
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    const std::size_t chars = wcsnlen(value, kInstallFolderChars);
    // A value filling all 512 bytes without a zero is not a whole path.
    if (chars == 0 || chars >= kInstallFolderChars || bytes > sizeof(value)) return false;
    wmemcpy(folder, value, chars + 1);
    return true;
}

bool flashProgramPath(wchar_t (&path)[MAX_PATH])
{
    path[0] = L'\0';
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY_PRODUCT, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    wchar_t value[kInstallFolderChars] = {};
    DWORD bytes = sizeof(value);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), VALUE_INSTALL_PATH, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) !=
        ERROR_SUCCESS)
        return false;
    wchar_t folder[kInstallFolderChars];
    if (!installFolderFromValue(type, value, bytes, folder)) return false;
    return joinText(path, static_cast<const wchar_t*>(folder), EXE_FLASH);
}

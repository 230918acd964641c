// Names only the uninstaller uses.
#pragma once

inline constexpr wchar_t EXE_FLASH[] = L"ZIVOFlash.exe";
inline constexpr wchar_t ARGS_FLASH_CLOSE[] = L" /close";
inline constexpr wchar_t EVENT_FLASH[] = L"ZIVO_FLASH_EVENT";
inline constexpr wchar_t SWITCH_SILENT[] = L"/silent";
inline constexpr wchar_t KEY_UNINSTALL_ENTRY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZIVO";
inline constexpr wchar_t FMT_UNINSTALL_ENTRY[] = L"%s%s\\";

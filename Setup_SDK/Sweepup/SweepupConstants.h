// Names only the cleanup tool uses. Each path piece carries its own
// backslashes; nothing is inserted between pieces.
#pragma once

inline constexpr wchar_t SWITCH_UNINSTALL[] = L"/Uninstall";
inline constexpr wchar_t SWITCH_PREVIEW[] = L"/Preview";
inline constexpr wchar_t ENV_SYSTEM_DRIVE[] = L"SystemDrive";
inline constexpr wchar_t KEY_PROFILE_LIST[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
inline constexpr wchar_t VALUE_PROFILE_IMAGE_PATH[] = L"ProfileImagePath";
inline constexpr wchar_t DIR_STARTUP[] = L"\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";
inline constexpr wchar_t DIR_PUBLIC_DATA[] = L"\\Users\\Public\\ZIVO";
inline constexpr wchar_t DIR_PUBLIC_LOGS[] = L"\\Users\\Public\\ZIVO\\ZIVOlogs";
inline constexpr wchar_t DIR_SHARED_DATA[] = L"\\Halvern\\ZIVO";
inline constexpr wchar_t DIR_ROAMING_DATA[] = L"\\AppData\\Roaming\\ZIVO";
inline constexpr wchar_t FILE_ROOT_KEY[] = L"ZIVORoot.key"; // in the roaming data folder; backups add " <date-time>"
inline constexpr wchar_t LNK_PRODUCT[] = L"Dactyra.lnk";
inline constexpr wchar_t LNK_RECOVERY[] = L"Recovery Tool.lnk";
inline constexpr wchar_t LNK_STARTUP_VAULT[] = L"ZIVO Vault.lnk";
inline constexpr wchar_t LNK_STARTUP_TRAY[] = L"ZIVO Tray.lnk";

inline constexpr int INSTALL_FOLDER_FILE_COUNT = 6;
inline constexpr const wchar_t* INSTALL_FOLDER_FILES[INSTALL_FOLDER_FILE_COUNT] = {
    L"DataMigrate.exe", L"MigrateCore.dll", L"RecoveryTool.exe",
    L"RecoveryCore.dll", L"SensorDecrypt.dll", L"TemplateStore.dat",
};

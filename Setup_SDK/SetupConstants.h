// Names of everything the setup tools touch. Leading and trailing blanks and
// backslashes are part of the values: paths and command lines are joined by
// plain concatenation, never with a separator in between.
#pragma once

// Windows Installer product codes, passed on exactly as written.
inline constexpr wchar_t PRODUCT_CODE_MAIN[] = L"{1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}";
inline constexpr wchar_t PRODUCT_CODE_ENTRY[] = L"{24919A8D-2502-49CA-B37B-C348EE6E708C}";
inline constexpr int SUB_PRODUCT_COUNT = 10;
inline constexpr const wchar_t* SUB_PRODUCT_CODES[SUB_PRODUCT_COUNT] = {
    L"{4CA564D7-4F81-4C2C-9429-6609A57D26A5}",
    L"{9B739684-14D2-447F-865E-28E21576139A}",
    L"{F9B424D4-51A1-40E0-8EB1-1B9097AF9811}",
    L"{897B5A9B-25C7-4C20-BD6A-C13EA4397A6A}",
    L"{3A041F1F-A2AC-4453-A057-829C89692083}",
    L"{67A0279B-3337-4BC2-AA79-56C802EAA72F}",
    L"{343C5F9C-35D1-4F4B-A04B-BF246FA1A19C}",
    L"{9815A65A-DD46-44B9-A088-819C3D10C058}",
    L"{79910CD7-CD3A-415F-9CE5-A178A44EB618}",
    L"{43f6bc7b-7cd0-464c-bbad-5b25a5e89027}", // lower case, as the package registers it
};

// Programs, windows and command lines.
inline constexpr wchar_t VERB_OPEN[] = L"open";
inline constexpr wchar_t EXE_MSIEXEC[] = L"MsiExec.exe";
inline constexpr wchar_t ARGS_MSI_QUIET_REMOVE[] = L"/quiet /X ";
inline constexpr wchar_t ARGS_MSI_PASSIVE_REMOVE[] = L"/passive /X ";
// After the code: a removal that needs a restart says so (3010) instead of
// restarting the machine before the later packages are removed.
inline constexpr wchar_t ARGS_MSI_NO_RESTART[] = L" /norestart";
inline constexpr wchar_t WINDOW_TRAY[] = L"ZIVOTray";
inline constexpr wchar_t EXE_TRAY[] = L"ZIVOTray.exe";
inline constexpr wchar_t EXE_VAULT[] = L"ZIVOVault.exe";
inline constexpr wchar_t EXE_MAIN[] = L"ZIVOMain.exe";
inline constexpr wchar_t EXE_ENROLL[] = L"ZIVOEnroll.exe";
inline constexpr wchar_t EXE_TASKKILL[] = L"taskkill";
inline constexpr wchar_t ARGS_TASKKILL_EXPLORER[] = L"/f /im explorer.exe";
// After ARGS_TASKKILL_EXPLORER, with the uninstaller's own session number:
// the shells of other sessions are other users' desktops.
inline constexpr wchar_t ARGS_TASKKILL_SESSION[] = L" /fi \"SESSION eq ";
inline constexpr wchar_t ARGS_TASKKILL_SESSION_END[] = L"\"";
inline constexpr wchar_t EXE_EXPLORER[] = L"explorer.exe";
inline constexpr wchar_t PRIVILEGE_DEBUG[] = L"SeDebugPrivilege";

// Registry, under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t KEY_PRODUCT[] = L"Software\\HALVERN\\ZIVO\\";
inline constexpr wchar_t VALUE_INSTALL_PATH[] = L"InstallPath"; // the folder, ending in a backslash
inline constexpr wchar_t KEY_RUN[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\";
inline constexpr wchar_t VALUE_RUN_VAULT[] = L"ZIVOVaultService";
inline constexpr wchar_t VALUE_RUN_AGENT[] = L"ZIVOAgent";

// Folders.
inline constexpr wchar_t DIR_START_MENU_UTILITIES[] =
    L"\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\HALVERN\\Utilities";

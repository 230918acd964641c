#include "DbgLogConfig.h"

#include <windows.h>

#include <cwchar>

#include "LastErrorKeeper.h"

namespace {

const wchar_t kSection[] = L"LOG";
const wchar_t kDefaultLogFile[] = L"C:\\Users\\Public\\Halvern\\ZIVO\\Log\\log.txt";

} // namespace

const wchar_t* DbgLogConfig::iniPath()
{
    static bool s_read = false;
    static wchar_t s_path[MAX_PATH];
    if (!s_read) {
        LastErrorKeeper keeper;
        s_read = true;
        s_path[0] = L'\0';
        wchar_t module[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
        // The executable's drive and folder, then the file name; a path
        // that does not fit leaves the log off.
        const wchar_t* slash = n > 0 && n < MAX_PATH ? wcsrchr(module, L'\\') : nullptr;
        const wchar_t name[] = L"DbgLog.ini";
        if (slash && static_cast<size_t>(slash + 1 - module) + wcslen(name) < MAX_PATH) {
            const size_t folder = static_cast<size_t>(slash + 1 - module);
            wmemcpy(s_path, module, folder);
            wmemcpy(s_path + folder, name, wcslen(name) + 1);
        }
    }
    return s_path;
}

const wchar_t* DbgLogConfig::logFile()
{
    static bool s_read = false;
    static wchar_t s_logFile[MAX_PATH];
    if (!s_read) {
        LastErrorKeeper keeper;
        s_read = true;
        const wchar_t* ini = iniPath();
        if (ini[0] == L'\0')
            wmemcpy(s_logFile, kDefaultLogFile, wcslen(kDefaultLogFile) + 1);
        else
            GetPrivateProfileStringW(kSection, L"LogFile", kDefaultLogFile, s_logFile, MAX_PATH, ini);
    }
    return s_logFile;
}

void DbgLogConfig::IntSetting::load(const wchar_t* key, int defaultValue)
{
    LastErrorKeeper keeper;
    const wchar_t* ini = iniPath();
    raw = ini[0] == L'\0' ? defaultValue
                          : static_cast<int>(GetPrivateProfileIntW(kSection, key, defaultValue, ini));
    read = true;
}

#include "DbgLogConfig.h"

#include <windows.h>

#include <cwchar>

namespace {

const wchar_t kSection[] = L"LOG";
const wchar_t kDefaultLogFile[] = L"C:\\Users\\Public\\Halvern\\ZIVO\\Log\\log.txt";

// Profile reads and module lookups touch the thread's last error; callers of
// the log read it again right after logging, so it is put back.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_error(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_error); }

private:
    DWORD m_error;
};

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
        if (n > 0 && n < MAX_PATH) {
            wchar_t drive[_MAX_DRIVE] = {};
            wchar_t dir[_MAX_DIR] = {};
            if (_wsplitpath_s(module, drive, _MAX_DRIVE, dir, _MAX_DIR, nullptr, 0, nullptr, 0) == 0 &&
                _wmakepath_s(s_path, MAX_PATH, drive, dir, L"DbgLog.ini", nullptr) != 0)
                s_path[0] = L'\0';
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
            wcscpy_s(s_logFile, MAX_PATH, kDefaultLogFile);
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

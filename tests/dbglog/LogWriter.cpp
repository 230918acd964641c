// Writes log entries as its arguments ask, so each DbgLog.ini setting can be
// tried in a process of its own. Prints what each write returned.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "DbgLog.h"

namespace {

const LogSite kPlainSite{L"f", 1, L" (f)", L"", ERR}; // prefix "f(1):  [ERR] (f): ", 18 characters

int example()
{
    const LogSite site{L".\\ImportDlg", 52, L" (ImportDlg::_dialogProc)", L"", ERR};
    return DbgLog::write(site, L"ASSERT( %s )", L"NULL != s_pThis");
}

int levelEntry(LogLevel level, const wchar_t* text)
{
    const LogSite site{L"dir\\levels.cpp", 7, L" (levels)", L"", level};
    return DbgLog::write(site, L"%s", text);
}

} // namespace

// The log tests expect these sites on lines 35, 37 and 39.
void macroSites()
{
    ASSERT(1 + 1 == 3);
    ASSERT(1 + 1 == 2);
    LOG_ERRCODE(0x80070002L);
    const wchar_t* value = L"100% sure %s %d";
    TRACE_VAR(value);
}

int wmain(int argc, wchar_t** argv)
{
    (void)_setmode(_fileno(stdout), _O_BINARY);
    for (int i = 1; i < argc; ++i) {
        const std::wstring command = argv[i];
        const wchar_t* next = i + 1 < argc ? argv[i + 1] : L"";
        int result = 0;
        if (command == L"example") {
            result = example();
        } else if (command == L"macros") {
            macroSites();
        } else if (command == L"fill") {
            const std::wstring message(static_cast<size_t>(_wtoi(next)), L'x');
            ++i;
            result = DbgLog::write(kPlainSite, L"%s", message.c_str());
        } else if (command == L"text") {
            ++i;
            result = DbgLog::write(kPlainSite, L"%s", next);
        } else if (command == L"lines") {
            // Line feeds inside a message, and one carriage return of its own.
            result = DbgLog::write(kPlainSite, L"%s", L"a\nb\r\nc");
        } else if (command == L"wide") {
            result = DbgLog::write(kPlainSite, L"%s", L"A\u00e9\u0100\U0001F600Z");
        } else if (command == L"levels") {
            levelEntry(ERR, L"err");
            levelEntry(WRN, L"wrn");
            levelEntry(INF, L"inf");
            levelEntry(TRC, L"trc");
        } else if (command == L"site") {
            const LogSite site{next, 3, L" (Ns::fn)", L"", ERR};
            ++i;
            result = DbgLog::write(site, L"m");
        } else if (command == L"lasterror") {
            SetLastError(0x1234);
            LOG_ERRCODE(1);
            result = static_cast<int>(GetLastError());
        } else if (command == L"sleep") {
            Sleep(static_cast<DWORD>(_wtoi(next)));
            ++i;
            continue;
        } else if (command == L"hold") {
            // Keeps the run's file open until the test lets go (named event).
            HANDLE release = CreateEventW(nullptr, TRUE, FALSE, next);
            if (release) {
                (void)WaitForSingleObject(release, 60000);
                CloseHandle(release);
            }
            ++i;
            continue;
        } else {
            continue;
        }
        printf("%ls=%d\n", command.c_str(), result);
    }
    return 0;
}

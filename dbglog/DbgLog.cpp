#include "DbgLog.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "LastErrorKeeper.h"

namespace {

const wchar_t* const kLevelNames[] = {L"ERR", L"WRN", L"INF", L"TRC"};

const wchar_t* levelName(LogLevel level)
{
    return level >= ERR && level <= TRC ? kLevelNames[level] : L"???";
}

DbgLogFile* g_sharedFile = nullptr;

void closeSharedFile()
{
    if (g_sharedFile) g_sharedFile->close();
}

// Writes into the rest of a buffer of `room` units; the length written, or -1
// when the text had to be cut (it is then terminated at room - 1).
int formatInto(wchar_t* buffer, int room, const wchar_t* format, va_list args)
{
    if (room <= 0) return -1;
    buffer[0] = L'\0';
    return _vsnwprintf_s(buffer, static_cast<size_t>(room), _TRUNCATE, format, args);
}

// NOLINTNEXTLINE(cert-dcl50-cpp): formats the line's pieces with the runtime's printf family.
int formatInto(wchar_t* buffer, int room, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = formatInto(buffer, room, format, args);
    va_end(args);
    return n;
}

} // namespace

// NOLINTNEXTLINE(cert-dcl50-cpp): the log sites' printf-style entry is the log's interface.
int DbgLog::write(const LogSite& site, const wchar_t* format, ...)
{
    if (!isEnabled(site.level)) return 0;
    LastErrorKeeper keeper; // opening and writing files touch it
    va_list args;
    va_start(args, format);
    const int n = writeV(site, format, args);
    va_end(args);
    return n;
}

int DbgLog::writeV(const LogSite& site, const wchar_t* format, va_list args)
{
    wchar_t line[kLineUnits];
    line[0] = L'\0';
    int t = timePrefix(line);
    t += sitePrefix(site, line + t, kLineUnits - t);

    const int message = t < kLineUnits - 1 ? formatInto(line + t, kLineUnits - 1 - t, format, args) : -1;
    int length;
    if (message < 0 || t + message >= kLineUnits - 1) {
        line[kLineUnits - 2] = L'\n';
        line[kLineUnits - 1] = L'\0';
        length = kLineUnits;
    } else {
        line[t + message] = L'\n';
        line[t + message + 1] = L'\0';
        length = t + message + 1;
    }

    if (DbgLogConfig::destination() == 1)
        OutputDebugStringW(line);
    else
        emit(line);
    return length;
}

int DbgLog::timePrefix(wchar_t* buffer)
{
    const int format = DbgLogConfig::timeDateFormat();
    if (format == 0) return 0;

    if (format == 3) {
        static bool s_started = false;
        static DWORD s_start = 0;
        if (!s_started) {
            s_start = GetTickCount();
            s_started = true;
        }
        const DWORD elapsed = GetTickCount() - s_start;
        const int n = formatInto(buffer, kLineUnits, L"%u.%03u: ", elapsed / 1000, elapsed % 1000);
        return n < 0 ? 0 : n;
    }

    SYSTEMTIME now;
    GetLocalTime(&now);
    int length = 0;
    if (format == 2) {
        const int n = GetDateFormatW(LOCALE_USER_DEFAULT, 0, &now, L"yyyy-MM-dd ", buffer, kLineUnits);
        if (n > 0) length += n - 1;
    }
    const int n = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, L"HH:mm:ss", buffer + length, kLineUnits - length);
    if (n > 0) length += n - 1;
    const int ms = formatInto(buffer + length, kLineUnits - length, L".%03d: ", static_cast<int>(now.wMilliseconds));
    return ms < 0 ? length : length + ms;
}

int DbgLog::sitePrefix(const LogSite& site, wchar_t* buffer, int room)
{
    const wchar_t* file = site.sourceFile ? site.sourceFile : L"";
    if (DbgLogConfig::sourceFileFormat() == 0) {
        if (const wchar_t* slash = wcsrchr(file, L'\\')) file = slash + 1;
    }
    const int n = formatInto(buffer, room, L"%s(%d): %s [%s]%s: ", file, site.line,
                             site.extraText ? site.extraText : L"", levelName(site.level),
                             site.functionText ? site.functionText : L"");
    return n < 0 ? (room > 0 ? room - 1 : 0) : n;
}

void DbgLog::emit(const wchar_t* line)
{
    switch (DbgLogConfig::destination()) {
    case 2:
        sharedFile().write(line);
        break;
    case 3: {
        DbgLogFile file(DbgLogConfig::logFile(), L"a", false);
        file.write(line);
        break;
    }
    case 4:
        dbgLogWriteNarrow(stderr, line);
        break;
    default:
        break;
    }
}

DbgLogFile& DbgLog::sharedFile()
{
    if (!g_sharedFile) {
        const wchar_t* path = DbgLogConfig::logFile();
        const bool flush = DbgLogConfig::flush();
        // Never deleted: the exit handler closes the stream, and an entry
        // logged after it finds the file closed rather than destroyed.
        g_sharedFile = new DbgLogFile(path, L"w", flush);
        (void)atexit(closeSharedFile);
    }
    return *g_sharedFile;
}

#include "DbgLog.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "LastErrorKeeper.h"
#include "LineText.h"
#include "MessageFormat.h"

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

const unsigned long long kTicksPerSecond = 10000000; // FILETIME counts 100 ns

// The system time, from the precise clock where the system has one
// (Windows 8 and later): it is the cheaper of the two to read.
void readClock(FILETIME* now)
{
    using ClockReader = VOID(WINAPI*)(LPFILETIME);
    static ClockReader s_reader = nullptr;
    if (s_reader == nullptr) {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const FARPROC precise = kernel ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : nullptr;
        s_reader = precise ? reinterpret_cast<ClockReader>(reinterpret_cast<void*>(precise)) : &GetSystemTimeAsFileTime;
    }
    s_reader(now);
}

// The date and time text of one second of local time, made once per second:
// formatting by locale costs far more than the rest of a line.
struct SecondText {
    unsigned long long second = ~0ull; // of the system time
    int format = -1;
    wchar_t text[64] = {};
    int length = 0;
};

void formatSecond(SecondText& cache, unsigned long long second, int format)
{
    ULARGE_INTEGER start;
    start.QuadPart = second * kTicksPerSecond;
    FILETIME utc = {start.LowPart, start.HighPart};
    FILETIME local;
    SYSTEMTIME time = {};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time)) GetLocalTime(&time);
    cache.second = second;
    cache.format = format;
    cache.length = 0;
    const int room = static_cast<int>(sizeof(cache.text) / sizeof(cache.text[0]));
    // A date or time call that fails adds nothing.
    if (format == 2) {
        const int n = GetDateFormatW(LOCALE_USER_DEFAULT, 0, &time, L"yyyy-MM-dd ", cache.text, room);
        if (n > 0) cache.length += n - 1;
    }
    const int n = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, L"HH:mm:ss", cache.text + cache.length, room - cache.length);
    if (n > 0) cache.length += n - 1;
}

} // namespace

int DbgLog::s_threshold = DbgLog::kUnread;

int DbgLog::readThreshold()
{
    s_threshold = DbgLogConfig::destination() == 0 ? -1 : DbgLogConfig::level();
    return s_threshold;
}

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

    const int message = t < kLineUnits - 1 ? formatMessage(line + t, kLineUnits - 1 - t, format, args) : -1;
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
        emit(line, length == kLineUnits ? kLineUnits - 1 : length);
    return length;
}

int DbgLog::timePrefix(wchar_t* buffer)
{
    const int format = DbgLogConfig::timeDateFormat();
    if (format == 0) return 0;
    LineText text(buffer, kLineUnits - 1);

    if (format == 3) {
        static bool s_started = false;
        static DWORD s_start = 0;
        if (!s_started) {
            s_start = GetTickCount();
            s_started = true;
        }
        const DWORD elapsed = GetTickCount() - s_start;
        text.putUnsigned(elapsed / 1000);
        text.put(L'.');
        text.putUnsigned(elapsed % 1000, 10, 3);
        text.put(L": ");
        return text.finish();
    }

    // One reading of the clock: the second's text from the cache, then the
    // milliseconds of the same reading.
    FILETIME now;
    readClock(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    const unsigned long long second = ticks.QuadPart / kTicksPerSecond;
    static SecondText s_second;
    if (s_second.second != second || s_second.format != format) formatSecond(s_second, second, format);
    for (int i = 0; i < s_second.length; ++i) text.put(s_second.text[i]);
    text.put(L'.');
    text.putUnsigned(ticks.QuadPart % kTicksPerSecond / 10000, 10, 3);
    text.put(L": ");
    return text.finish();
}

int DbgLog::sitePrefix(const LogSite& site, wchar_t* buffer, int room)
{
    if (room <= 0) return 0;
    const wchar_t* file = site.sourceFile ? site.sourceFile : L"";
    if (DbgLogConfig::sourceFileFormat() == 0) {
        if (const wchar_t* slash = wcsrchr(file, L'\\')) file = slash + 1;
    }
    // "%s(%d): %s [%s]%s: ", cut to room - 1 characters when it does not fit.
    LineText text(buffer, room - 1);
    text.put(file);
    text.put(L'(');
    text.putSigned(site.line);
    text.put(L"): ");
    text.put(site.extraText ? site.extraText : L"");
    text.put(L" [");
    text.put(levelName(site.level));
    text.put(L']');
    text.put(site.functionText ? site.functionText : L"");
    text.put(L": ");
    text.finish();
    return text.length();
}

void DbgLog::emit(const wchar_t* line, int length)
{
    const std::size_t characters = length > 0 ? static_cast<std::size_t>(length) : 0;
    switch (DbgLogConfig::destination()) {
    case 2:
        sharedFile().write(line, characters);
        break;
    case 3: {
        DbgLogFile file(DbgLogConfig::logFile(), L"a", false);
        file.write(line, characters);
        break;
    }
    case 4:
        dbgLogWriteNarrow(stderr, line, characters, false);
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

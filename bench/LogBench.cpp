// One figure of the diagnostic log, or of spdlog as its peer, per run: the
// settings are per process, so scripts/bench-log.sh runs this program once
// per figure and side, each time in a fresh folder with its own DbgLog.ini,
// and takes the median of several runs.
//
//   LogBench empty                    ns per pass of the empty loop
//   LogBench site                     ns per log site (off or filtered by DbgLog.ini)
//   LogBench lines N                  lines per second, as DbgLog.ini routes them
//   LogBench peer-site                ns per filtered spdlog site
//   LogBench peer-lines N FILE        spdlog's single-threaded file sink, no flush
//   LogBench peer-lines-flush N FILE  the same, flushed after every line
//   LogBench parts N                  ns per stage of one line, each stage alone
#include <windows.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "DbgLog.h"
#include "MessageFormat.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>

namespace {

// Keeps the compiler from hoisting the cached setting out of the loop.
inline void barrier()
{
#if defined(_MSC_VER)
    _ReadWriteBarrier();
#else
    __asm__ __volatile__("" ::: "memory");
#endif
}

double now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

const long kSiteLoops = 200000000;
const wchar_t kValue[] = L"C:\\Users\\demo\\AppData\\Roaming\\ZIVO\\ZIVORoot.key";

double emptyLoopNs()
{
    const double start = now();
    for (long i = 0; i < kSiteLoops; ++i) barrier();
    return (now() - start) * 1e9 / kSiteLoops;
}

double logSiteNs()
{
    const wchar_t* value = kValue;
    const double start = now();
    for (long i = 0; i < kSiteLoops; ++i) {
        barrier();
        TRACE_VAR(value);
    }
    return (now() - start) * 1e9 / kSiteLoops;
}

double linesPerSecond(long lines)
{
    const double start = now();
    for (long i = 0; i < lines; ++i) LOG_ERRCODE(0x80070000L + i);
    return lines / (now() - start);
}

std::shared_ptr<spdlog::logger> peerLogger(const std::string& path, bool flushEach)
{
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(path, true);
    auto logger = std::make_shared<spdlog::logger>("peer", sink);
    logger->set_pattern("%H:%M:%S.%e: %v");
    logger->set_level(spdlog::level::err);
    logger->flush_on(flushEach ? spdlog::level::err : spdlog::level::off);
    return logger;
}

double peerFilteredNs()
{
    auto logger = peerLogger("peer-filtered.txt", false);
    const char* value = "C:\\Users\\demo\\AppData\\Roaming\\ZIVO\\ZIVORoot.key";
    const double start = now();
    for (long i = 0; i < kSiteLoops; ++i) {
        barrier();
        logger->trace("strRootKeyPath = {}", value);
    }
    return (now() - start) * 1e9 / kSiteLoops;
}

double peerLinesPerSecond(const std::string& path, bool flushEach, long lines)
{
    auto logger = peerLogger(path, flushEach);
    const double start = now();
    for (long i = 0; i < lines; ++i) logger->error("Error Code: 0x{:x}", 0x80070000L + i);
    logger->flush();
    return lines / (now() - start);
}

int formatInto(wchar_t* buffer, int room, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = formatMessage(buffer, room, format, args);
    va_end(args);
    return n;
}

// Each stage of building and writing a line, timed alone: where a line's
// time goes, in ns per call.
void lineParts(long lines)
{
    static const LogSite site{L".\\ImportDlg.cpp", 52, L" (ImportDlg::_dialogProc)", L"", ERR};
    wchar_t buffer[DbgLog::kLineUnits];
    FILETIME clock;
    double start = now();
    for (long i = 0; i < lines; ++i) {
        barrier();
        GetSystemTimeAsFileTime(&clock);
    }
    const double plainClock = (now() - start) * 1e9 / lines;
    start = now();
    for (long i = 0; i < lines; ++i) {
        barrier();
        GetSystemTimePreciseAsFileTime(&clock);
    }
    const double preciseClock = (now() - start) * 1e9 / lines;
    start = now();
    for (long i = 0; i < lines; ++i) (void)DbgLog::timePrefix(buffer);
    const double timePrefix = (now() - start) * 1e9 / lines;
    start = now();
    for (long i = 0; i < lines; ++i) (void)DbgLog::sitePrefix(site, buffer, DbgLog::kLineUnits);
    const double sitePrefix = (now() - start) * 1e9 / lines;
    start = now();
    for (long i = 0; i < lines; ++i) (void)formatInto(buffer, DbgLog::kLineUnits, L"Error Code: 0x%x", 0x80070000u + i);
    const double message = (now() - start) * 1e9 / lines;
    const wchar_t* line = L"09:41:05.007: ImportDlg.cpp(52):  [ERR] (ImportDlg::_dialogProc): Error Code: 0x80070002\n";
    const size_t length = wcslen(line);
    char bytes[1024];
    start = now();
    for (long i = 0; i < lines; ++i) {
        barrier();
        (void)dbgLogNarrow(line, length, bytes, sizeof bytes, true);
    }
    const double narrow = (now() - start) * 1e9 / lines;
    FILE* file = _wfopen(L"parts.txt", L"wb");
    const size_t size = dbgLogNarrow(line, length, bytes, sizeof bytes, true);
    start = now();
    for (long i = 0; i < lines; ++i) (void)fwrite(bytes, 1, size, file);
    const double fwriteCall = (now() - start) * 1e9 / lines;
    fclose(file);
    printf("clock read %.1f (the plain system clock: %.1f), time prefix %.1f (clock included), origin prefix %.1f, "
           "message %.1f, 8-bit conversion %.1f, one fwrite call of a line %.1f (made once per 16 KB)\n",
           preciseClock, plainClock, timePrefix, sitePrefix, message, narrow, fwriteCall);
}

std::string narrowText(const wchar_t* text)
{
    std::string out;
    for (; *text; ++text) out += static_cast<char>(*text);
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring what = argc > 1 ? argv[1] : L"";
    const long lines = argc > 2 ? _wtol(argv[2]) : 1000000;
    const std::string peerFile = argc > 3 ? narrowText(argv[3]) : std::string("peer.txt");

    if (what == L"empty") {
        printf("%.4f\n", emptyLoopNs());
    } else if (what == L"site") {
        printf("%.4f\n", logSiteNs());
    } else if (what == L"lines") {
        printf("%.0f\n", linesPerSecond(lines));
    } else if (what == L"peer-site") {
        printf("%.4f\n", peerFilteredNs());
    } else if (what == L"peer-lines") {
        printf("%.0f\n", peerLinesPerSecond(peerFile, false, lines));
    } else if (what == L"peer-lines-flush") {
        printf("%.0f\n", peerLinesPerSecond(peerFile, true, lines));
    } else if (what == L"parts") {
        lineParts(lines);
    } else {
        fprintf(stderr, "usage: LogBench empty|site|lines|peer-site|peer-lines|peer-lines-flush|parts [lines] [peer file]\n");
        return 2;
    }
    return 0;
}

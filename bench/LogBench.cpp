// Cost of a log site and line rates of the diagnostic log, beside spdlog as
// a peer. Settings are per process, so bench-log.sh runs this program once
// per DbgLog.ini with the figure to measure as its argument.
#include <windows.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include <cstdio>
#include <cwchar>
#include <string>

#include "DbgLog.h"



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

double emptyLoopNs()
{
    const double start = now();
    for (long i = 0; i < kSiteLoops; ++i) barrier();
    return (now() - start) * 1e9 / kSiteLoops;
}

double logSiteNs()
{
    const wchar_t* value = L"C:\\Users\\demo\\AppData\\Roaming\\ZIVO\\ZIVORoot.key";
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

double peerFilteredNs(const std::string& path)
{
    auto logger = peerLogger(path, false);
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

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring what = argc > 1 ? argv[1] : L"";
    const long lines = argc > 2 ? _wtol(argv[2]) : 100000;
    const std::string peerFile = argc > 3 ? [](const wchar_t* w) {
        std::string s;
        for (; *w; ++w) s += static_cast<char>(*w);
        return s;
    }(argv[3]) : std::string("peer.txt");

    if (what == L"site") {
        const double empty = emptyLoopNs();
        const double site = logSiteNs();
        printf("%.3f %.3f\n", empty, site);
    } else if (what == L"lines") {
        printf("%.0f\n", linesPerSecond(lines));
    } else if (what == L"peer-site") {
        printf("%.3f\n", peerFilteredNs(peerFile));
    } else if (what == L"peer-lines") {
        printf("%.0f\n", peerLinesPerSecond(peerFile, false, lines));
    } else if (what == L"peer-lines-flush") {
        printf("%.0f\n", peerLinesPerSecond(peerFile, true, lines));
    } else {
        fprintf(stderr, "usage: LogBench site|lines|peer-site|peer-lines|peer-lines-flush [lines] [peer file]\n");
        return 2;
    }
    return 0;
}

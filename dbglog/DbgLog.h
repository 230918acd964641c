// The developer's diagnostic log of the key import program. DbgLog.ini beside
// the program switches it on; without it nothing is written anywhere.
#pragma once

#include <cstdarg>

#include "DbgLogConfig.h"
#include "DbgLogFile.h"
#include "LogSite.h"
#include "SiteText.h"

class DbgLog {
public:
    static constexpr int kLineUnits = 512;

    // The log sites' only entry; 0 when the entry is filtered out.
    static int write(const LogSite& site, const wchar_t* format, ...);

    // The level filter. Once the settings are read it is one cached test:
    // an entry passes when its level is at most the threshold (-1 when
    // Destination is 0, so nothing passes).
    static bool isEnabled(LogLevel level)
    {
        const int threshold = s_threshold;
        if (level > threshold) return false;
        return threshold != kUnread || readThreshold() >= level;
    }

    // Builds the line in a 512-unit stack buffer and routes it; returns the
    // characters written including the line feed, or 512 for a cut line.
    static int writeV(const LogSite& site, const wchar_t* format, va_list args);
    static int timePrefix(wchar_t* buffer);
    static int sitePrefix(const LogSite& site, wchar_t* buffer, int room);
    // `length`: the line's characters, line feed included.
    static void emit(const wchar_t* line, int length);
    static DbgLogFile& sharedFile();

private:
    // Before the first entry: higher than any level, so the first test
    // reads the settings.
    static constexpr int kUnread = 0x7fffffff;
    static int s_threshold;

    // Reads Destination, and Level only when Destination is not 0.
    static int readThreshold();
};

// A site is built only when its level passes, so a filtered site costs the
// cached tests and nothing else; the macro arguments are evaluated once.
#define DBGLOG_ENTRY_(level, ...)                                                                   \
    do {                                                                                            \
        if (DbgLog::isEnabled(level)) {                                                             \
            static constexpr auto dbglogFile_ = ::dbglog::sourceText(__FILE__);                     \
            static constexpr auto dbglogFunction_ = ::dbglog::functionText(DBGLOG_FUNCTION_SIGNATURE_); \
            const LogSite dbglogSite_{dbglogFile_.text, __LINE__, dbglogFunction_.text, L"", level}; \
            (void)DbgLog::write(dbglogSite_, __VA_ARGS__);                                          \
        }                                                                                           \
    } while (0)

#define ASSERT(expression)                                               \
    do {                                                                 \
        if (!(expression)) DBGLOG_ENTRY_(ERR, L"ASSERT( %s )", L"" #expression); \
    } while (0)

#define LOG_ERRCODE(code)                                                \
    do {                                                                 \
        const unsigned dbglogCode_ = static_cast<unsigned>(code);        \
        DBGLOG_ENTRY_(ERR, L"Error Code: 0x%x", dbglogCode_);             \
    } while (0)

#define TRACE_VAR(expression)                                            \
    do {                                                                 \
        const wchar_t* dbglogValue_ = (expression);                      \
        DBGLOG_ENTRY_(TRC, L"%s = %s", L"" #expression, dbglogValue_);   \
    } while (0)

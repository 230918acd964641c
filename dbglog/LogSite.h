// The origin of one diagnostic entry and its level.
#pragma once

enum LogLevel : int {
    ERR = 0,
    WRN = 1,
    INF = 2,
    TRC = 3,
};

// Built by the log macros on the caller's stack; every text is a literal of
// static lifetime, so the site owns nothing.
struct LogSite {
    const wchar_t* sourceFile;
    int line;
    const wchar_t* functionText;
    const wchar_t* extraText;
    LogLevel level;
};

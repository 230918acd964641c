// One open log file: the run's file (kept open) or a per-line file.
#pragma once

#include <cstdio>

class DbgLogFile {
public:
    // Expands environment references in the path, opens it with the given
    // mode, and creates a missing folder chain once before a second open.
    DbgLogFile(const wchar_t* path, const wchar_t* mode, bool flush);
    ~DbgLogFile() { close(); }
    DbgLogFile(const DbgLogFile&) = delete;
    DbgLogFile& operator=(const DbgLogFile&) = delete;

    void write(const wchar_t* line);
    void close();
    bool isOpen() const { return m_stream != nullptr; }

private:
    FILE* m_stream;
    bool m_flush;
};

// Files and the standard error stream get 8-bit text: a character up to
// U+00FF becomes the byte of the same value; anything above (a surrogate
// pair counts once) becomes '?', so a line is never cut at such a character.
// Returns the number of bytes written, without the terminating zero.
std::size_t dbgLogNarrow(const wchar_t* line, char* out, std::size_t capacity);
void dbgLogWriteNarrow(std::FILE* stream, const wchar_t* line);

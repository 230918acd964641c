// One open log file: the run's file (kept open) or a per-line file.
// The file is written in binary mode, each line feed as a carriage return
// and a line feed: the bytes a text-mode stream would store. Lines are
// converted straight into a 16 KB buffer and handed to the stream a buffer
// at a time, or at every line when it is flushed after each line (Flush=1).
// Measured: at 4 KB, the stream's own size, a line's share of the disk
// writes was a third of its cost.
#pragma once

#include <cstddef>
#include <cstdio>

class DbgLogFile {
public:
    // Expands environment references in the path, opens it with the given
    // mode, and creates a missing folder chain once before a second open.
    DbgLogFile(const wchar_t* path, const wchar_t* mode, bool flush);
    ~DbgLogFile() { close(); }
    DbgLogFile(const DbgLogFile&) = delete;
    DbgLogFile& operator=(const DbgLogFile&) = delete;

    // `length`: the line's characters, without the terminating zero.
    void write(const wchar_t* line, std::size_t length);
    void close();
    bool isOpen() const { return m_stream != nullptr; }

private:
    void drain();

    static constexpr std::size_t kPendingBytes = std::size_t{16} * 1024;
    // Room a line may need: 511 characters, every one a line feed.
    static constexpr std::size_t kLineBytes = 1024;

    FILE* m_stream;
    bool m_flush;
    std::size_t m_pendingBytes = 0;
    char m_pending[kPendingBytes];
};

// Files and the standard error stream get 8-bit text: a character up to
// U+00FF becomes the byte of the same value; anything above (a surrogate
// pair counts once) becomes '?', so a line is never cut at such a character.
// With `lineEnds`, each line feed is written as carriage return and line
// feed, for streams in binary mode. Returns the number of bytes written,
// without the terminating zero.
std::size_t dbgLogNarrow(const wchar_t* line, std::size_t length, char* out, std::size_t capacity, bool lineEnds);
// `lineEnds` as above: true for the log's binary files, false for a stream
// in text mode (the standard error stream).
void dbgLogWriteNarrow(std::FILE* stream, const wchar_t* line, std::size_t length, bool lineEnds);

#include "DbgLogFile.h"

#include <windows.h>
#include <shlobj.h>

#include <share.h>

#include <cerrno>
#include <cwchar>

namespace {

// Binary mode: the line ends are written by dbgLogNarrow.
FILE* openBinary(const wchar_t* path, const wchar_t* mode)
{
    wchar_t binaryMode[8] = {};
    if (wcslen(mode) + 2 > 8) return nullptr;
    wcscpy(binaryMode, mode);
    wcscat(binaryMode, L"b");
    return _wfsopen(path, binaryMode, _SH_DENYRW);
}

FILE* openLogStream(const wchar_t* path, const wchar_t* mode)
{
    wchar_t expanded[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return nullptr; // longer than the buffer: lost

    // Opened without sharing: while one run holds its file, another run
    // of the program cannot open it and loses its lines instead of mixing
    // them in. Explicit, as not every runtime's _wfopen_s denies sharing.
    FILE* stream = openBinary(expanded, mode);
    if (stream) return stream;
    if (errno != ENOENT) return nullptr;

    // The drive and folder part: everything before the last separator.
    wchar_t folder[MAX_PATH] = {};
    const wchar_t* end = nullptr;
    for (const wchar_t* p = expanded; *p; ++p)
        if (*p == L'\\' || *p == L'/') end = p;
    if (!end) return nullptr;
    wmemcpy(folder, expanded, static_cast<size_t>(end - expanded));
    (void)SHCreateDirectoryExW(nullptr, folder, nullptr); // the second open decides
    return openBinary(expanded, mode);
}

} // namespace

DbgLogFile::DbgLogFile(const wchar_t* path, const wchar_t* mode, bool flush)
    : m_stream(openLogStream(path, mode)), m_flush(flush), m_pending{}
{
}

void DbgLogFile::close()
{
    if (m_stream) {
        drain();
        (void)fclose(m_stream);
        m_stream = nullptr;
    }
}

void DbgLogFile::drain()
{
    if (m_pendingBytes > 0) (void)fwrite(m_pending, 1, m_pendingBytes, m_stream);
    m_pendingBytes = 0;
}

void DbgLogFile::write(const wchar_t* line, std::size_t length)
{
    if (!m_stream) return;
    if (kPendingBytes - m_pendingBytes < kLineBytes) drain();
    m_pendingBytes += dbgLogNarrow(line, length, m_pending + m_pendingBytes, kPendingBytes - m_pendingBytes, true);
    if (m_flush) {
        drain();
        (void)fflush(m_stream);
    }
}

std::size_t dbgLogNarrow(const wchar_t* line, std::size_t length, char* out, std::size_t capacity, bool lineEnds)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < length && line[i] != L'\0' && n + 2 < capacity; ++i) {
        const wchar_t c = line[i];
        if (c < 0x80 && c != L'\n') { // most of every line
            out[n++] = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && line[i + 1] >= 0xDC00 && line[i + 1] <= 0xDFFF) ++i;
        if (c == L'\n' && lineEnds) out[n++] = '\r';
        out[n++] = c <= 0xFF ? static_cast<char>(static_cast<unsigned char>(c)) : '?';
    }
    out[n] = '\0';
    return n;
}

void dbgLogWriteNarrow(std::FILE* stream, const wchar_t* line, std::size_t length, bool lineEnds)
{
    // A line holds at most 511 characters: 1022 bytes with every one a line feed.
    char bytes[1024];
    const std::size_t n = dbgLogNarrow(line, length, bytes, sizeof bytes, lineEnds);
    (void)fwrite(bytes, 1, n, stream);
}

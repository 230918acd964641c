#include "DbgLogFile.h"

#include <windows.h>
#include <shlobj.h>

#include <share.h>

#include <cerrno>
#include <cwchar>

namespace {

FILE* openLogStream(const wchar_t* path, const wchar_t* mode)
{
    wchar_t expanded[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return nullptr; // longer than the buffer: lost

    // Opened without sharing: while one run holds its file, another run
    // of the program cannot open it and loses its lines instead of mixing
    // them in. Explicit, as not every runtime's _wfopen_s denies sharing.
    FILE* stream = _wfsopen(expanded, mode, _SH_DENYRW);
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
    return _wfsopen(expanded, mode, _SH_DENYRW);
}

} // namespace

DbgLogFile::DbgLogFile(const wchar_t* path, const wchar_t* mode, bool flush)
    : m_stream(openLogStream(path, mode)), m_flush(flush)
{
}

void DbgLogFile::close()
{
    if (m_stream) {
        (void)fclose(m_stream);
        m_stream = nullptr;
    }
}

void DbgLogFile::write(const wchar_t* line)
{
    if (!m_stream) return;
    dbgLogWriteNarrow(m_stream, line);
    if (m_flush) (void)fflush(m_stream);
}

std::size_t dbgLogNarrow(const wchar_t* line, char* out, std::size_t capacity)
{
    std::size_t n = 0;
    for (const wchar_t* p = line; *p && n + 1 < capacity; ++p) {
        const wchar_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) ++p;
        out[n++] = c <= 0xFF ? static_cast<char>(static_cast<unsigned char>(c)) : '?';
    }
    out[n] = '\0';
    return n;
}

void dbgLogWriteNarrow(std::FILE* stream, const wchar_t* line)
{
    char bytes[1024];
    const std::size_t n = dbgLogNarrow(line, bytes, sizeof bytes);
    (void)fwrite(bytes, 1, n, stream);
}

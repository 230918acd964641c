#include "DbgLogFile.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cwchar>

#include "OpenedAsItself.h"

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Makes sure the folders of the log file's path are folders of their own,
// creating missing ones one by one. False when a part is a link or no
// folder: nothing, the log file included, is created through a link.
bool prepareFolders(const wchar_t* path)
{
    wchar_t part[MAX_PATH] = {};
    const std::size_t chars = wcslen(path);
    // Past the root: "C:\" or "\\server\share\".
    std::size_t at = 0;
    if (chars >= 3 && path[1] == L':' && isSeparator(path[2])) {
        at = 3;
    } else if (chars >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        int separators = 0;
        for (at = 2; at < chars && separators < 2; ++at)
            if (isSeparator(path[at])) ++separators;
    }
    for (; at < chars; ++at) {
        if (!isSeparator(path[at])) continue;
        wmemcpy(part, path, at);
        part[at] = L'\0';
        const DWORD attributes = GetFileAttributesW(part);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryW(part, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return false;
        }
    }
    return true;
}

// Opened without sharing: while one run holds its file, another run of the
// program cannot open it and loses its lines instead of mixing them in.
// Never through a link: a log file that is not itself is not written, and
// a run's file starts afresh only once it is known to be the log's own.
FILE* openLogStream(const wchar_t* path, const wchar_t* mode)
{
    wchar_t expanded[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return nullptr; // longer than the buffer: lost

    const auto open = [&](DWORD disposition) {
        return CreateFileW(expanded, GENERIC_WRITE, 0, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    HANDLE file = open(OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A new file only in folders of their own: through a linked folder
        // it would land in someone else's.
        if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && prepareFolders(expanded))
            file = open(OPEN_ALWAYS);
    }
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const bool append = mode[0] == L'a';
    LARGE_INTEGER start = {};
    // Not through a link, and no second name for another file (a hard
    // link to a key file would be written over).
    if (!isOpenedAsItself(file, expanded) || !SetFilePointerEx(file, start, nullptr, append ? FILE_END : FILE_BEGIN) ||
        (!append && !SetEndOfFile(file))) {
        (void)CloseHandle(file);
        return nullptr;
    }
    // Binary mode: the line ends are written by dbgLogNarrow.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | (append ? _O_APPEND : 0));
    if (descriptor < 0) {
        (void)CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _wfdopen(descriptor, append ? L"ab" : L"wb");
    if (!stream) (void)_close(descriptor);
    return stream;
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

#include "DbgLogFile.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cwchar>

#include "FileIdentity.h"
#include "PathForms.h"

namespace {

// Opened without sharing: while one run holds its file, another run of the
// program cannot open it and loses its lines instead of mixing them in.
// Never through a link: the folders are walked from the path's root, the
// missing ones created one by one, and the file opened relative to its
// folder; a new file only ever as new (never through anything at its name).
// Nothing is cut or written before the file is known to be its folder's own
// entry of that name, with no other name (a hard link to a key file would be
// written over). A log that cannot be opened so is lost.
FILE* openLogStream(const wchar_t* path, const wchar_t* mode)
{
    wchar_t expanded[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return nullptr; // longer than the buffer: lost

    std::wstring folderPath, name;
    if (!splitLastName(expanded, folderPath, name)) return nullptr;
    const Opened folder = openFolder(folderPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true);
    if (!folder) return nullptr;
    EntryRequest request;
    request.access = GENERIC_WRITE;
    request.share = 0;
    Opened file = openEntry(folder, name, request);
    if (file.refusal == Refusal::Missing) {
        request.disposition = FILE_CREATE;
        file = openEntry(folder, name, request);
    }
    if (!file || file.links != 1) return nullptr;
    const bool append = mode[0] == L'a';
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file.handle.get(), start, nullptr, append ? FILE_END : FILE_BEGIN) ||
        (!append && !SetEndOfFile(file.handle.get())))
        return nullptr;
    // Binary mode: the line ends are written by dbgLogNarrow.
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(file.handle.get()), _O_BINARY | (append ? _O_APPEND : 0));
    if (descriptor < 0) return nullptr;
    (void)file.handle.release(); // the descriptor owns it now
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

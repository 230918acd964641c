#include "CleanupActs.h"

#include <algorithm>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "Deletion.h"
#include "SweepupConstants.h"

namespace {

// Written out a block at a time: a preview of thousands of files should
// not cost a system call a line.
const std::size_t kFlushChars = std::size_t{16} * 1024;

struct Preview {
    bool on = false;
    std::set<std::wstring> listed;  // upper case: each path once
    std::set<std::wstring> removed; // upper case: folders listed as removed
    std::wstring pending;
    std::wstring profile;
    std::vector<std::wstring> rootKeyProfiles;
    unsigned files = 0, folders = 0, values = 0, kept = 0;
};

Preview& preview()
{
    static Preview s_preview;
    return s_preview;
}

void flushLines()
{
    std::wstring& text = preview().pending;
    if (text.empty()) return;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        if (GetConsoleMode(out, &mode)) {
            // A console shows every script as it is.
            (void)WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        } else {
            // A file or a pipe gets UTF-8.
            const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                                  nullptr, nullptr);
            if (bytes > 0) {
                std::string utf8(static_cast<std::size_t>(bytes), '\0');
                (void)WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], bytes,
                                          nullptr, nullptr);
                (void)WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
            }
        }
    }
    text.clear();
}

void writeLine(const std::wstring& line)
{
    preview().pending += line;
    preview().pending += L"\r\n";
    if (preview().pending.size() >= kFlushChars) flushLines();
}

std::wstring upperCase(const std::wstring& path)
{
    std::wstring key = path;
    if (!key.empty()) (void)CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

// True the first time a path is listed.
bool firstListing(const std::wstring& path)
{
    return preview().listed.insert(upperCase(path)).second;
}

bool isRootKeyFile(const wchar_t* path)
{
    const wchar_t* slash = wcsrchr(path, L'\\');
    const wchar_t* name = slash ? slash + 1 : path;
    const std::size_t chars = wcslen(FILE_ROOT_KEY);
    if (CompareStringOrdinal(name, static_cast<int>(std::min(wcslen(name), chars)), FILE_ROOT_KEY,
                             static_cast<int>(chars), TRUE) != CSTR_EQUAL)
        return false;
    return name[chars] == L'\0' || name[chars] == L' '; // the key, or one of its backups
}

// Through the one deletion of the file-identity layer; the volume's
// refusal of POSIX semantics is remembered by the caller's folder.
bool markForDeletion(HANDLE object, bool& posixRefused)
{
    DeletionWays ways;
    ways.posixRefused = posixRefused;
    ways.ignoreReadOnlyRefused = true; // attributes are reset first here
    const bool marked = ::markForDeletion(object, ways);
    posixRefused = ways.posixRefused;
    return marked;
}

std::wstring number(unsigned value)
{
    wchar_t text[16] = {};
    (void)wsprintfW(text, L"%u", value);
    return text;
}

} // namespace

void setCleanupMode(CleanupMode mode)
{
    preview().on = mode == CleanupMode::Preview;
}

bool isPreview()
{
    return preview().on;
}

bool resetAttributes(HANDLE object)
{
    if (isPreview()) return true;
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

void deleteHeldFile(HANDLE file, const wchar_t* path, bool& posixRefused)
{
    if (!isPreview()) {
        (void)markForDeletion(file, posixRefused); // refused when read-only
        return;
    }
    // Deleted once: a later try at the same path finds nothing there.
    if (!firstListing(path)) return;
    writeLine(std::wstring(L"delete\t") + path);
    ++preview().files;
    if (!preview().profile.empty() && isRootKeyFile(path)) {
        std::vector<std::wstring>& profiles = preview().rootKeyProfiles;
        if (profiles.empty() || profiles.back() != preview().profile) profiles.push_back(preview().profile);
    }
}

void removeHeldFolder(HANDLE folder, const wchar_t* path, bool& posixRefused, int keptInside)
{
    if (!isPreview()) {
        (void)markForDeletion(folder, posixRefused); // refused while anything is left in it
        return;
    }
    if (keptInside > 0) {
        keepItem(path, REASON_NOT_EMPTY);
        return;
    }
    if (!firstListing(path)) return;
    writeLine(std::wstring(L"remove\t") + path);
    ++preview().folders;
    preview().removed.insert(upperCase(path));
}

bool isListedAsRemoved(const std::wstring& folder)
{
    return isPreview() && preview().removed.count(upperCase(folder)) > 0;
}

void deleteRegistryValue(HKEY key, const wchar_t* name, const std::wstring& shownPath)
{
    if (!isPreview()) {
        (void)RegDeleteValueW(key, name);
        return;
    }
    if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS || !firstListing(shownPath))
        return;
    writeLine(L"delete\t" + shownPath);
    ++preview().values;
}

void keepItem(const std::wstring& path, const wchar_t* reason)
{
    if (!isPreview() || !firstListing(path)) return;
    writeLine(L"keep\t" + path + L"\t" + reason);
    ++preview().kept;
}

const wchar_t* reasonForError(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return L"access denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return L"in use by another program";
    case ERROR_FILENAME_EXCED_RANGE:
        return REASON_PATH_TOO_LONG;
    default:
        return L"cannot be opened";
    }
}

void beginProfile(const std::wstring& profileFolder)
{
    preview().profile = profileFolder;
}

void endProfile()
{
    preview().profile.clear();
}

void printSummary()
{
    if (!isPreview()) return;
    const Preview& p = preview();
    std::wstring line = L"total\t" + number(p.files) + L" files, " + number(p.folders) + L" folders, " +
                        number(p.values) + L" values to delete; " + number(p.kept) + L" items kept\t";
    if (p.rootKeyProfiles.empty()) {
        line += L"no root key files";
    } else {
        line += L"root key files of ";
        for (std::size_t i = 0; i < p.rootKeyProfiles.size(); ++i) line += (i ? L", " : L"") + p.rootKeyProfiles[i];
    }
    writeLine(line);
    flushLines();
}

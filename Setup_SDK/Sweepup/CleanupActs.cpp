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
    std::wstring pending;
    std::vector<std::wstring> rootKeyProfiles; // whose root key files would go now
    std::vector<std::wstring> heldKeyProfiles; // whose are held open, and go once their program stops
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

// True the first time a path is listed; names in a case-sensitive folder
// are told apart by letter case.
bool firstListing(const std::wstring& path, bool caseSensitive = false)
{
    return preview().listed.insert(caseSensitive ? path : upperCase(path)).second;
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

bool deleteHeldFile(const FileDeletion& deletion, DeletionWays& ways)
{
    if (isPreview()) {
        // Deleted once: a later try at the same path finds nothing there.
        if (!firstListing(deletion.path, deletion.caseSensitive)) return true;
        writeLine(std::wstring(L"delete\t") + deletion.path);
        ++preview().files;
        return true;
    }
    if (!deletion.resetFirst) return markForDeletion(deletion.file, ways, false);
    // As it is, where the platform offers it: the attributes stay untouched.
    if (markForDeletion(deletion.file, ways, true)) return true;
    if (canIgnoreReadOnly(ways)) return false; // refused as it is: in use
    if (!resetAttributes(deletion.file)) return false;
    if (markForDeletion(deletion.file, ways, false)) return true;
    // Still refused (mapped or run by another program): it stays as it was.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = deletion.attributes;
    (void)SetFileInformationByHandle(deletion.file, FileBasicInfo, &basic, sizeof(basic));
    return false;
}

bool removeHeldFolder(HANDLE folder, const wchar_t* path, DeletionWays& ways, int keptInside)
{
    if (!isPreview()) return markForDeletion(folder, ways, false); // refused while anything is left in it
    if (keptInside > 0) {
        keepItem(path, REASON_NOT_EMPTY);
        return false;
    }
    if (firstListing(path)) {
        writeLine(std::wstring(L"remove\t") + path);
        ++preview().folders;
    }
    return true;
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

void noteProfileKeys(const std::wstring& profileFolder, const SweepOutcome& outcome)
{
    if (!isPreview()) return;
    if (outcome.rootKeysGo) preview().rootKeyProfiles.push_back(profileFolder);
    if (outcome.rootKeysHeld) preview().heldKeyProfiles.push_back(profileFolder);
}

void printSummary()
{
    if (!isPreview()) return;
    const Preview& p = preview();
    std::wstring line = L"total\t" + number(p.files) + L" files, " + number(p.folders) + L" folders, " +
                        number(p.values) + L" values to delete; " + number(p.kept) + L" items kept\t";
    const auto joined = [](const std::vector<std::wstring>& profiles) {
        std::wstring text;
        for (std::size_t i = 0; i < profiles.size(); ++i) text += (i ? L", " : L"") + profiles[i];
        return text;
    };
    if (p.rootKeyProfiles.empty() && p.heldKeyProfiles.empty()) line += L"no root key files";
    if (!p.rootKeyProfiles.empty()) line += L"root key files of " + joined(p.rootKeyProfiles);
    if (!p.heldKeyProfiles.empty())
        line += std::wstring(p.rootKeyProfiles.empty() ? L"" : L"; ") +
                L"root key files held by a running program, going once it stops, of " + joined(p.heldKeyProfiles);
    writeLine(line);
    flushLines();
}

// Whether an open file is the plain file at a path itself. Where the
// platform follows a link in spite of FILE_FLAG_OPEN_REPARSE_POINT (Wine),
// only the final path shows that the open reached another file.
#pragma once

#include <windows.h>

#include <string>

// True when `file` is no link and no folder, has one name (no hard link
// elsewhere shares it), and its final path, every link resolved, is `path`
// in full and long form (compared without regard to case).
inline bool isOpenedAsItself(HANDLE file, const wchar_t* path)
{
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) ||
        (basic.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) || standard.NumberOfLinks != 1)
        return false;
    // Both in plain form: "\\?\C:\..." as "C:\...", "\\?\UNC\s\x" as "\\s\x".
    const auto plain = [](std::wstring text) {
        if (text.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + text.substr(8);
        if (text.compare(0, 4, L"\\\\?\\") == 0) return text.substr(4);
        return text;
    };
    const auto filled = [](DWORD (*get)(const wchar_t*, wchar_t*, DWORD), const wchar_t* from, std::wstring& to) {
        const DWORD needed = get(from, nullptr, 0);
        if (needed == 0) return false;
        to.assign(needed, L'\0');
        const DWORD chars = get(from, &to[0], needed);
        if (chars == 0 || chars >= needed) return false;
        to.resize(chars);
        return true;
    };
    std::wstring full, longForm, final;
    if (!filled([](const wchar_t* p, wchar_t* b, DWORD n) { return GetFullPathNameW(p, n, b, nullptr); }, path, full))
        return false;
    // An 8.3 name in the path is no link: compared in long form.
    if (filled([](const wchar_t* p, wchar_t* b, DWORD n) { return GetLongPathNameW(p, b, n); }, full.c_str(), longForm))
        full = longForm;
    const DWORD needed = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
    if (needed == 0) return false;
    final.assign(needed, L'\0');
    const DWORD chars = GetFinalPathNameByHandleW(file, &final[0], needed, FILE_NAME_NORMALIZED);
    if (chars == 0 || chars >= needed) return false;
    final.resize(chars);
    const std::wstring a = plain(final), b = plain(full);
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

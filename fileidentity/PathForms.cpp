#include "PathForms.h"

#include <windows.h>

namespace {

bool isLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Length of the name at `at`, up to the next separator or the end.
std::size_t nameLength(const std::wstring& text, std::size_t at)
{
    std::size_t n = 0;
    while (at + n < text.size() && !isSeparator(text[at + n])) ++n;
    return n;
}

// Where the names after the root begin, and the root in plain form with its
// last backslash; npos when the path has no drive or share root.
std::size_t rootOf(const std::wstring& plain, std::wstring& root)
{
    if (plain.size() >= 3 && isLetter(plain[0]) && plain[1] == L':' && isSeparator(plain[2])) {
        root = plain.substr(0, 2) + L"\\";
        return 3;
    }
    if (plain.size() < 2 || !isSeparator(plain[0]) || !isSeparator(plain[1])) return std::wstring::npos;
    const std::size_t serverChars = nameLength(plain, 2);
    if (serverChars == 0) return std::wstring::npos;
    // "\\?\" and "\\.\" name devices and raw namespaces, not shares.
    if (serverChars == 1 && (plain[2] == L'?' || plain[2] == L'.')) return std::wstring::npos;
    const std::size_t shareAt = 2 + serverChars + 1;
    if (shareAt >= plain.size()) return std::wstring::npos;
    const std::size_t shareChars = nameLength(plain, shareAt);
    if (shareChars == 0) return std::wstring::npos;
    root = L"\\\\" + plain.substr(2, serverChars) + L"\\" + plain.substr(shareAt, shareChars) + L"\\";
    return shareAt + shareChars + 1;
}

} // namespace

std::wstring plainForm(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

bool splitPath(const std::wstring& path, std::wstring& root, std::vector<std::wstring>& names)
{
    names.clear();
    const std::wstring plain = plainForm(path);
    const std::size_t start = rootOf(plain, root);
    if (start == std::wstring::npos) return false;
    for (std::size_t at = start; at <= plain.size();) {
        const std::size_t chars = nameLength(plain, at);
        const std::wstring name = plain.substr(at, chars);
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        at += chars + 1;
    }
    return true;
}

bool startsAtDriveOrShare(const std::wstring& path)
{
    std::wstring root;
    const std::size_t start = rootOf(path, root);
    return start != std::wstring::npos && start <= path.size() && isSeparator(path[start - 1]);
}

bool isWholeAbsolutePath(const std::wstring& path)
{
    std::wstring root;
    std::vector<std::wstring> names;
    return splitPath(path, root, names) && !names.empty();
}

std::wstring longForm(const std::wstring& path)
{
    std::wstring root;
    std::vector<std::wstring> names;
    if (!splitPath(path, root, names) || names.empty()) return {};
    std::wstring whole = root[0] == L'\\' ? L"\\\\?\\UNC\\" + root.substr(2) : L"\\\\?\\" + root;
    for (std::size_t i = 0; i < names.size(); ++i) whole += (i ? L"\\" : L"") + names[i];
    return whole;
}

bool splitLastName(const std::wstring& path, std::wstring& folder, std::wstring& name)
{
    std::size_t slash = path.size();
    while (slash > 0 && !isSeparator(path[slash - 1])) --slash;
    if (slash == 0 || slash == path.size()) return false;
    folder = path.substr(0, slash - 1);
    if (!folder.empty() && folder.back() == L':') folder += L'\\'; // "C:\" stays a drive's root
    name = path.substr(slash);
    return true;
}

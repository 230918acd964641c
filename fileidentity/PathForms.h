// The forms of a path, made once: the plain form for messages and logs, the
// long (extended-length) form for file operations, and the parts a walk
// from the path's root opens one by one.
#pragma once

#include <string>
#include <vector>

// The system takes a forward slash for a backslash in a path.
inline bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// "\\?\C:\..." as "C:\...", "\\?\UNC\server\share\..." as "\\server\share\...";
// any other text as it is.
std::wstring plainForm(const std::wstring& path);

// True for a path that names its drive or share and something on it:
// "X:\name..." or "\\server\share\name...", with either slash, plain or in
// extended form. Relative, drive-relative, rooted ("\...") and device paths
// ("\\.\", "\\?\GLOBALROOT") are not.
bool isWholeAbsolutePath(const std::wstring& path);

// True for a path in plain form that starts at a drive's or a share's root:
// "X:\..." or "\\server\share\...", with either slash, the root's last
// separator included. Relative, drive-relative, rooted ("\...") and device
// or extended paths ("\\?\", "\\.\") are not: the rule for values read
// from outside (the registry, the environment).
bool startsAtDriveOrShare(const std::wstring& path);

// The extended-length form of a whole absolute path, "." and ".." resolved
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), so file operations take it
// past MAX_PATH without long-path support. Empty when the path is not whole
// and absolute.
std::wstring longForm(const std::wstring& path);

// A whole absolute path split at its root: "C:\" or "\\server\share\" in
// plain form, and the names after it ("." and ".." resolved, empty names
// dropped; none for the root itself). False when the path has no root.
bool splitPath(const std::wstring& path, std::wstring& root, std::vector<std::wstring>& names);

// The folder part of a path, up to and without its last separator, and the
// name after it; false when there is no separator or no name.
bool splitLastName(const std::wstring& path, std::wstring& folder, std::wstring& name);

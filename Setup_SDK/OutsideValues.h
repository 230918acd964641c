// Values that come from outside the setup tools (the registry and the
// environment), read into fixed buffers and used only when whole. A value
// that does not qualify counts as missing: the item it concerns is skipped.
#pragma once

#include <windows.h>

#include <cstddef>

// Registry strings are read into 512 bytes: 255 characters and the terminator.
inline constexpr std::size_t kRegistryTextChars = 256;

// A registry value, as read into a zero-filled 512-byte buffer with the type
// and byte count the registry gave, taken as a path: a REG_SZ, or a
// REG_EXPAND_SZ with its references expanded, terminated inside the buffer,
// fitting it, and absolute. Otherwise false, with `path` empty.
bool pathFromRegistryValue(DWORD type, const wchar_t (&raw)[kRegistryTextChars], DWORD bytes,
                           wchar_t (&path)[kRegistryTextChars]);

// What became of a path read from the registry.
enum class PathValue {
    Usable,
    Absent,             // no key or no value: nothing to go by
    NotAbsolute,        // there, but not a whole, absolute path by the rules above
    NoTrailingBackslash // an install folder that does not end in one
};

// Reads a value of a key under HKEY_LOCAL_MACHINE by the rules above.
PathValue readRegistryPath(const wchar_t* subKey, const wchar_t* valueName, REGSAM access,
                           wchar_t (&path)[kRegistryTextChars]);

// An environment value read into MAX_PATH units; false, with `value` empty,
// when it is not set or does not fit.
bool readEnvironment(const wchar_t* name, wchar_t (&value)[MAX_PATH]);

// The product's install folder from its registry value, by the rules above,
// and only when it ends in a separator: file names are joined to it
// directly, and a folder stored without its last backslash would name
// files beside it ("C:\\inst" + "ZIVOFlash.exe").
PathValue readInstallFolder(wchar_t (&folder)[kRegistryTextChars]);

// The install folder from the product's registry key, read safely.
#pragma once

#include <windows.h>

#include <cstddef>

// Registry string values are read into 512 bytes: 255 characters and the
// terminator.
constexpr std::size_t kInstallFolderChars = 256;

// Takes a registry value as read into a zero-filled 512-byte buffer. The
// folder is known only when the value is a string, non-empty and
// terminated within the buffer; otherwise `folder` is left empty.
bool installFolderFromValue(DWORD type, const wchar_t (&value)[kInstallFolderChars], DWORD bytes,
                            wchar_t (&folder)[kInstallFolderChars]);

// The flash-memory program's full path, or false when the install folder is
// unknown or the path would not fit into MAX_PATH.
bool flashProgramPath(wchar_t (&path)[MAX_PATH]);

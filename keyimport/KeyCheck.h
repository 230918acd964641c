// Asks the key library whether a file holds a usable key.
#pragma once

#include <string>

// True when the key library accepts the file. Any key object the library
// hands back, accepted or not, is destroyed before this returns.
bool isUsableKeyFile(const std::wstring& path);

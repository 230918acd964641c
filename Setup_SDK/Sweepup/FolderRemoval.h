// Removal of per-profile data and flat folder sweeps.
#pragma once

#include <windows.h>

#include <string>

// Deletes every file directly inside the folder, then the folder when it is
// empty. Subfolders stay. A folder that is a link (reparse point) is left
// alone with everything it points to; inside the folder a link is never
// followed.
void removeFolder(const std::wstring& folder);

// The profile's roaming product-data folder, or empty when the profile's
// folder cannot be read whole.
std::wstring getRoamingDataPath(const std::wstring& identifier);

// Sweeps the roaming product-data folder of every profile with a name longer
// than eight characters. Always 0.
LONG removeRoamingData();

// A registry string as read into a zero-filled buffer of 512 bytes: usable
// only when it is terminated inside the buffer.
bool registryTextFits(const wchar_t (&value)[256]);

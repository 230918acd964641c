// Removal of per-profile data and flat folder sweeps.
#pragma once

#include <windows.h>

#include <string>

#include "CleanupActs.h"

// Deletes every file directly inside the folder, then the folder when it is
// empty. Subfolders stay. The folder is swept only when its final path is
// the path asked for, so a link in any part of the path (the folder itself
// or any folder above it) leaves it alone with everything behind the link.
// Inside, entries are opened through the held folder and never followed: a
// link entry is never swept through, and a file with more than one link
// keeps its attributes. `goneSubfolder` names a subfolder removed before.
// What went, and whether the folder did.
SweepOutcome removeFolder(const std::wstring& folder, const std::wstring& goneSubfolder = {});

// The profile's roaming product-data folder, or empty when the profile's
// folder is not a whole, absolute path.
std::wstring getRoamingDataPath(const std::wstring& identifier);

// Sweeps the roaming product-data folder of every profile with a name longer
// than eight characters. Best effort: a profile that cannot be read is
// skipped and the walk goes on.
void removeRoamingData();

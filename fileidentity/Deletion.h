// Deleting through a handle: the object that goes is the one that was
// opened and checked, never whatever a name leads to by then.
#pragma once

#include <windows.h>

// How a volume takes deletion marks; one per folder walk, so a refusal of
// the newer ways is asked once.
struct DeletionWays {
    bool posixRefused = false;      // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS (Windows 10 1709)
    bool ignoreReadOnlyRefused = false; // ..._IGNORE_READONLY_ATTRIBUTE (Windows 10 1809)
};

// Marks the object for deletion: it goes when its last handle closes.
// With POSIX semantics where the volume offers them, so its name leaves
// the folder at once even while another program holds it with delete
// sharing. With `ignoreReadOnly` (and the platform offering it) a
// read-only file goes without its attributes being touched first.
bool markForDeletion(HANDLE object, DeletionWays& ways, bool ignoreReadOnly = false);

// True when the platform can delete a read-only file as it is; false means
// its attributes must be reset first (and put back if it then stays).
bool canIgnoreReadOnly(const DeletionWays& ways);

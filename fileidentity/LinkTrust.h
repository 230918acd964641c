// Which links a walk may pass: the link is read as itself (its reparse
// data) and judged by who can change it (its owner and access list, and
// those of the folder that holds it).
#pragma once

#include <windows.h>

#include <cstddef>

enum class ReparseKind {
    NotALink,    // a reparse point that is no name surrogate (deduplicated or cloud files): the object itself
    VolumeMount, // a mount point whose target is the root of a volume, "\??\Volume{GUID}\" and nothing after it
    Link,        // any other junction or symbolic link
};

// Classifies reparse data laid out as REPARSE_DATA_BUFFER
// (FSCTL_GET_REPARSE_POINT's answer). Data too short for what its header
// says counts as a link.
ReparseKind classifyReparseData(const void* data, std::size_t bytes);

// True when only the machine's own accounts (SYSTEM, the Administrators
// group, the system's installer account TrustedInstaller) own the object
// and hold rights that change it: for a link, the rights to retarget,
// delete or re-permission it; for the folder that holds it, the rights to
// delete its entries or re-permission it. Allow entries that only pass to
// children are not the object's own. A missing access list grants
// everyone everything.
bool isMachineOnly(PSECURITY_DESCRIPTOR descriptor, bool isHoldingFolder);

// Both of the above for an open link and its folder (opened with
// READ_CONTROL): a link an ordinary user could make or replace is not.
bool isMachineOwnedLink(HANDLE link, HANDLE holdingFolder);

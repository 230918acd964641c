// Whether an object opened by path is the thing at that path, and not what
// a link leads to: the one rule of the kit's programs, kept in one place.
//
// A path is opened from its root ("C:\", "\\server\share\"), one name at a
// time, each relative to the handle of the folder before it, asking for the
// link itself rather than its target (FILE_OPEN_REPARSE_POINT). Each object
// so opened is then checked against its folder, like with like:
// - it is no link (a reparse point that is a name surrogate); a mount
//   point whose target is a volume's root, and a link that only the
//   machine's own accounts can change, are passed through on the way;
// - the system's name for it (GetFinalPathNameByHandleW) is its folder's
//   own name plus one name, in the same volume naming: the folder named so
//   is the folder held (same volume and 128-bit file id), and the object
//   named so is the object held. Where the platform follows a link in
//   spite of the request (Wine follows Unix symbolic links), this shows it.
// A drive letter, a substituted or mapped drive, a share, 8.3 names and
// letter case all name the same objects and pass; the text a path was
// given in is never compared with anything.
#pragma once

#include <windows.h>

#include <string>

#include "UniqueHandle.h"

// Volume serial number and 128-bit file id (FileIdInfo): unique on NTFS
// and ReFS alike, where the 64-bit index is not unique on ReFS.
struct FileIdentity {
    ULONGLONG volume = 0;
    BYTE id[16] = {};
};
bool identityOf(HANDLE object, FileIdentity& identity);
bool sameIdentity(const FileIdentity& a, const FileIdentity& b);

// The system's name for an open object: with DOS volume names where the
// volume has a drive letter, else with its volume GUID name (a volume
// mounted in a folder has no letter); normalised, else as opened (SMB
// refuses normalising where a part of the path cannot be queried).
bool finalPathOf(HANDLE object, std::wstring& path);

// Why an open through this layer gave no object.
enum class Refusal {
    None,
    Missing,    // nothing there
    Link,       // the object is a link or junction, or was reached through one
    LinkInPath, // a folder on its way is
    NotFolder,  // a folder was asked for and something else is there
    NotFile,    // a file was asked for and a folder is there
    Failed,     // the system refused; `error` says why
};

// An object opened through this layer, with what the checks read of it.
struct Opened {
    UniqueHandle handle; // empty when refused
    Refusal refusal = Refusal::Failed;
    DWORD error = ERROR_SUCCESS; // the system's error behind Missing and Failed
    std::wstring finalPath;      // the system's name for it
    FileIdentity identity;
    DWORD attributes = 0;
    DWORD reparseTag = 0;
    DWORD links = 0;

    explicit operator bool() const { return refusal == Refusal::None; }
};

// How an entry is checked against its folder.
enum class EntryCheck {
    // Its name's folder reopened and compared, and its name reopened and
    // compared: the folder handle may be raced (the log's folder, in a
    // folder every user can write to).
    Reopened,
    // Its name compared with the folder's own name plus the entry's, and
    // its name reopened and compared: for a folder this program holds
    // without delete sharing, entry after entry.
    InHeldFolder,
};

struct EntryRequest {
    ACCESS_MASK access = FILE_READ_ATTRIBUTES;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ULONG disposition = FILE_OPEN; // FILE_OPEN, or FILE_CREATE: never through anything already there
    bool folder = false;           // a folder, or a file
    DWORD createAttributes = FILE_ATTRIBUTE_NORMAL;
    EntryCheck check = EntryCheck::Reopened;
};

// Opens the folder at a whole absolute path from its root by the rules
// above, with `access` and `share` for the folder itself; with
// `createMissing`, missing folders on the way and the folder itself are
// created one by one (FILE_CREATE, so nothing is created through a link).
Opened openFolder(const std::wstring& path, ACCESS_MASK access, DWORD share, bool createMissing = false);

// Opens the entry `name` (one name, no separator) of an opened folder, as
// itself, by the rules above.
Opened openEntry(const Opened& folder, const std::wstring& name, const EntryRequest& request);

// Opens a file at a whole absolute path: its folder by openFolder, then the
// file by openEntry.
Opened openFileAt(const std::wstring& path, const EntryRequest& request);

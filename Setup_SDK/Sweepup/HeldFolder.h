// The one way the cleanup tool deletes anything on disk: a folder held open
// as itself, its final path checked, and its entries opened relative to it,
// as themselves, and deleted through their own handles. A link at any level
// of the path, or as an entry, is never followed. What stays, and why, is
// told to the preview (CleanupActs.h).
#pragma once

#include <windows.h>

#include <cstddef>

#include <string>

#include "CleanupActs.h"
#include "Deletion.h"
#include "FileIdentity.h"
#include "UniqueHandle.h"

// Whether a file's attributes are reset to normal before it is deleted, so
// that read-only, hidden and system files go too. Only a file with a single
// link has its attributes reset: one with more shares them with a name
// elsewhere, and goes only if it can as it is.
enum class AttributeReset { SingleLinkOnly, Never };

// The form a path is compared in: the full path (forward slashes become
// backslashes, "." and ".." resolved), then the long form of each existing
// component, without a trailing backslash unless it is a drive's root.
// Nothing here resolves a link. False when it does not fit MAX_PATH.
bool normalisedPath(const wchar_t* path, wchar_t (&normalised)[MAX_PATH]);

// What a held folder is for: a sweep removes the folder at the end; the
// install and shortcut folders only lose some of their files.
enum class FolderUse { SweepAndRemove, DeleteInside };

class HeldFolder {
public:
    // Holds the folder when it exists as itself at that path. It is held
    // without delete sharing, so it cannot be renamed or swapped for a link
    // while it is held. A folder to remove is held with DELETE access too,
    // unless someone else has it open without delete sharing (a process
    // standing in it does); its files still go.
    // `goneSubfolder` names a subfolder that a sweep before this one has
    // removed (the preview finds it still there).
    HeldFolder(const wchar_t* path, FolderUse use, const std::wstring& goneSubfolder = {});
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    explicit operator bool() const { return static_cast<bool>(m_folder); }

    // Every file directly inside goes; subfolders are not entered and only
    // have their attributes reset.
    void removeFiles();
    // One file directly inside, by name; true when it goes.
    bool removeFile(const wchar_t* name, AttributeReset reset);
    // The folder itself, when nothing is left in it; true when it goes. The
    // folder is let go.
    bool remove();
    // What the files that went, or stayed, were.
    const SweepOutcome& outcome() const { return m_outcome; }

private:
    // `knownAttributes` from a listing, or INVALID_FILE_ATTRIBUTES to read
    // them. True when the file is deleted (listed, in the preview).
    bool removeFile(const wchar_t* name, std::size_t nameChars, AttributeReset reset, DWORD knownAttributes);
    void resetSubfolder(const wchar_t* name, std::size_t nameChars);
    // An entry that stays, and keeps the folder: listed by the preview.
    void keepEntry(const wchar_t* name, std::size_t nameChars, const wchar_t* reason);
    bool entryPath(const wchar_t* name, std::size_t nameChars, wchar_t (&path)[1024]) const;
    // Opens the folder at m_path through the file-identity layer; false,
    // with the reason it stays listed, when it is not a folder there as itself.
    bool hold(bool withDelete);

    Opened m_folder;
    std::wstring m_goneSubfolder;
    bool m_canDelete = false;
    bool m_caseSensitive = false; // names that differ only in letter case are other files
    DeletionWays m_ways;          // what this folder's volume takes
    int m_keptInside = 0;         // entries that stay, so the folder does too
    SweepOutcome m_outcome;
    wchar_t m_path[MAX_PATH] = {};
};

// Deletes the file at `path` through its folder, held as above.
void deleteFileAt(const wchar_t* path, AttributeReset reset);

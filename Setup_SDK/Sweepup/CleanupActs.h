// The cleanup's final acts, chosen in this one place: the cleanup
// (/Uninstall) deletes, the preview (/Preview) lists what it would delete
// and what it would leave, and why, changing nothing. Everything up to the
// act (the walk, the link, path, attribute and link-count checks) is the
// same code in both.
#pragma once

#include <windows.h>

#include <string>

#include "Deletion.h"

enum class CleanupMode { Delete, Preview };

void setCleanupMode(CleanupMode mode);
bool isPreview();

// Resets a file's or folder's attributes to normal; the preview leaves them.
bool resetAttributes(HANDLE object);

// One file to delete, opened and checked.
struct FileDeletion {
    HANDLE file;
    const wchar_t* path;
    DWORD attributes;    // as the file has them now
    bool resetFirst;     // read-only, hidden or system: reset if the platform cannot delete it as it is
    bool caseSensitive;  // its folder tells names apart by letter case
};
// Deletes the file through its handle (it goes when the handle closes), or
// lists it as "delete"; true when it goes. Where the platform deletes a
// read-only file as it is, its attributes are never touched; where they
// had to be reset and the deletion is still refused (a file mapped or run
// by another program), they are put back.
bool deleteHeldFile(const FileDeletion& deletion, DeletionWays& ways);
// Removes a held folder, which goes when its handle closes and only when
// nothing is left in it; the preview lists it as "remove" when nothing would
// be left (`keptInside` is 0), else as kept. True when it goes.
bool removeHeldFolder(HANDLE folder, const wchar_t* path, DeletionWays& ways, int keptInside);
// Deletes a value of an open key, or lists it by `shownPath` when it exists.
void deleteRegistryValue(HKEY key, const wchar_t* name, const std::wstring& shownPath);
// Something in the way that the cleanup leaves; listed by the preview,
// once per path.
void keepItem(const std::wstring& path, const wchar_t* reason);
// Why an open or a read failed, in plain words.
const wchar_t* reasonForError(DWORD error);

// What one folder's sweep did with the profile's root key files (the key,
// its backups, staged keys): some went (or would), some are held open by a
// running program and go once it stops.
struct SweepOutcome {
    bool removed = false;
    bool rootKeysGo = false;
    bool rootKeysHeld = false;
};
// Records whose root key files the sweep of a profile's data took or found
// held, for the preview's last line.
void noteProfileKeys(const std::wstring& profileFolder, const SweepOutcome& outcome);

// The preview's last line: what it would delete and keep, and whose root
// keys would go. Nothing in the cleanup.
void printSummary();

// Reasons the preview gives for what it keeps.
inline constexpr wchar_t REASON_LINK[] = L"a link or junction";
inline constexpr wchar_t REASON_LINK_IN_PATH[] = L"a link or junction in its path";
inline constexpr wchar_t REASON_NOT_FOLDER[] = L"not a folder";
inline constexpr wchar_t REASON_PATH_TOO_LONG[] = L"path too long";
inline constexpr wchar_t REASON_SUBFOLDER[] = L"subfolder (not entered)";
inline constexpr wchar_t REASON_NOT_EMPTY[] = L"folder not empty (holds what is kept)";
inline constexpr wchar_t REASON_READ_ONLY_SHORTCUT[] = L"read-only shortcut";
inline constexpr wchar_t REASON_READ_ONLY_LINKED[] = L"read-only, with more than one link";
inline constexpr wchar_t REASON_NOT_ABSOLUTE[] = L"not a whole, absolute path";
inline constexpr wchar_t REASON_NO_BACKSLASH[] = L"install folder value does not end in a backslash";
inline constexpr wchar_t REASON_PROFILE_NOT_ABSOLUTE[] = L"profile folder is not a whole, absolute path";

// The cleanup's final acts, chosen in this one place: the cleanup
// (/Uninstall) deletes, the preview (/Preview) lists what it would delete
// and what it would leave, and why, changing nothing. Everything up to the
// act (the walk, the link, path, attribute and link-count checks) is the
// same code in both.
#pragma once

#include <windows.h>

#include <string>

enum class CleanupMode { Delete, Preview };

void setCleanupMode(CleanupMode mode);
bool isPreview();

// Resets a file's or folder's attributes to normal; the preview leaves them.
bool resetAttributes(HANDLE object);
// Deletes a file through its handle (it goes when the handle closes), or
// lists it as "delete". With POSIX semantics where the volume allows them
// (`posixRefused` notes that it does not), so a file another program holds
// with delete sharing leaves its folder at once.
void deleteHeldFile(HANDLE file, const wchar_t* path, bool& posixRefused);
// Removes a held folder, which goes when its handle closes and only when
// nothing is left in it; the preview lists it as "remove" when nothing would
// be left (`keptInside` is 0), else as kept.
void removeHeldFolder(HANDLE folder, const wchar_t* path, bool& posixRefused, int keptInside);
// Deletes a value of an open key, or lists it by `shownPath` when it exists.
void deleteRegistryValue(HKEY key, const wchar_t* name, const std::wstring& shownPath);
// True when the preview has listed the folder as removed: a folder swept
// after its subfolder then counts it gone, as the cleanup finds it.
bool isListedAsRemoved(const std::wstring& folder);
// Something in the way that the cleanup leaves; listed by the preview,
// once per path.
void keepItem(const std::wstring& path, const wchar_t* reason);
// Why an open or a read failed, in plain words.
const wchar_t* reasonForError(DWORD error);

// The profile whose data is being swept: a root key file listed meanwhile
// names it in the summary.
void beginProfile(const std::wstring& profileFolder);
void endProfile();

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

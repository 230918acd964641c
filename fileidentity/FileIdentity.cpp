#include "FileIdentity.h"

#include <winternl.h>

#include <cstring>
#include <vector>

#include "LinkTrust.h"
#include "PathForms.h"
#include "WinError.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a walk needs of each folder on the way.
const ACCESS_MASK kWalkAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const ULONG kNameSurrogateBit = 0x20000000;
// FILE_ID_INFO and its class (Windows 8 and later), named here: the kit
// builds for Windows 7 too.
const auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInfoBlock {
    ULONGLONG volume;
    BYTE id[16];
};
// FSCTL_GET_REPARSE_POINT answers at most this much.
const DWORD kReparseDataBytes = 16 * 1024;

bool sameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

const NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
const NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);

// NtCreateFile relative to `folder`; an empty name opens the folder again.
// The Windows error, and the status it came from.
DWORD openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share, ULONG disposition,
                   ULONG options, DWORD attributes, UniqueHandle& opened, NTSTATUS* status = nullptr)
{
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE handle = nullptr;
    const NTSTATUS result = NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                                         disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    opened.reset(result >= 0 ? handle : nullptr);
    if (status) *status = result;
    return result >= 0 ? ERROR_SUCCESS : RtlNtStatusToDosError(result);
}

// An open object's attributes (a reparse point that is no name surrogate,
// deduplicated or cloud, counts as the object itself), reparse tag and
// link count.
bool readState(Opened& opened)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (!GetFileInformationByHandleEx(opened.handle.get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !GetFileInformationByHandleEx(opened.handle.get(), FileStandardInfo, &standard, sizeof(standard)))
        return false;
    opened.attributes = tag.FileAttributes;
    opened.reparseTag = tag.ReparseTag;
    // A reparse point that is no name surrogate (deduplicated, cloud) is the object itself.
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(tag.ReparseTag & kNameSurrogateBit))
        opened.attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
    opened.links = standard.NumberOfLinks;
    return true;
}

// A path that names a volume's or a drive's root: "\\?\C:\", "\\?\Volume{...}\".
bool isRootName(const std::wstring& finalPath)
{
    const std::wstring plain = plainForm(finalPath);
    const std::size_t slash = plain.find(L'\\');
    return slash == std::wstring::npos || slash + 1 == plain.size();
}

// "\\?\C:\a\b" as "\\?\C:\a" and "b"; a folder at a root keeps its backslash.
void splitFinal(const std::wstring& finalPath, std::wstring& folder, std::wstring& name)
{
    const std::size_t slash = finalPath.find_last_of(L'\\');
    folder = finalPath.substr(0, slash);
    name = finalPath.substr(slash + 1);
    if (isRootName(folder + L"\\")) folder += L'\\';
}

// The folder's own name joined with one more.
std::wstring joinedName(const std::wstring& folder, const std::wstring& name)
{
    return folder.empty() || folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

UniqueHandle openByName(const std::wstring& path)
{
    return UniqueHandle([&] {
        const HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return h == INVALID_HANDLE_VALUE ? nullptr : h;
    }());
}

// The name an entry was opened by is the one its final path ends in:
// the same but for letter case, or that name's 8.3 form.
bool isNameOf(const std::wstring& given, const std::wstring& finalPath, const std::wstring& last)
{
    if (sameText(given, last)) return true;
    if (given.find(L'~') == std::wstring::npos) return false;
    const DWORD needed = GetShortPathNameW(finalPath.c_str(), nullptr, 0);
    if (needed == 0) return false;
    std::wstring shortPath(needed, L'\0');
    const DWORD chars = GetShortPathNameW(finalPath.c_str(), &shortPath[0], needed);
    if (chars == 0 || chars >= needed) return false;
    shortPath.resize(chars);
    const std::size_t slash = shortPath.find_last_of(L'\\');
    return sameText(given, shortPath.substr(slash + 1));
}

// The object the name leads to now: the same object, naming itself the same way.
bool nameLeadsTo(const std::wstring& path, const FileIdentity& identity)
{
    const UniqueHandle again = openByName(path);
    FileIdentity found;
    std::wstring named;
    return again && identityOf(again.get(), found) && sameIdentity(found, identity) && finalPathOf(again.get(), named) &&
           named == path;
}

// Whether the open entry is the folder's own child of that name (see the header).
Refusal checkAgainstFolder(const Opened& folder, Opened& entry, const std::wstring& name, EntryCheck check)
{
    if (!finalPathOf(entry.handle.get(), entry.finalPath)) {
        entry.error = lastErrorOr(ERROR_GEN_FAILURE);
        return Refusal::Failed;
    }
    if (isRootName(entry.finalPath)) {
        // A volume's root under a folder's name: where a second drive letter
        // names this folder, Wine names it by that letter. Passed only when
        // the name in its folder is no link.
        const DWORD attributes = GetFileAttributesW(joinedName(folder.finalPath, name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return Refusal::Link;
        if (check == EntryCheck::InHeldFolder) return Refusal::None;
        return identityOf(entry.handle.get(), entry.identity) && nameLeadsTo(entry.finalPath, entry.identity)
                   ? Refusal::None
                   : Refusal::Link;
    }
    std::wstring parent, last;
    splitFinal(entry.finalPath, parent, last);
    // A link to another entry of the same folder names that entry.
    if (!isNameOf(name, entry.finalPath, last)) return Refusal::Link;
    if (check == EntryCheck::InHeldFolder) return sameText(parent, folder.finalPath) ? Refusal::None : Refusal::Link;
    const UniqueHandle parentNow = openByName(parent);
    FileIdentity parentIdentity;
    if (!parentNow || !identityOf(parentNow.get(), parentIdentity) || !sameIdentity(parentIdentity, folder.identity))
        return Refusal::Link;
    if (!identityOf(entry.handle.get(), entry.identity)) {
        entry.error = lastErrorOr(ERROR_GEN_FAILURE);
        return Refusal::Failed;
    }
    return nameLeadsTo(entry.finalPath, entry.identity) ? Refusal::None : Refusal::Link;
}

const DWORD kTagMountPoint = 0xA0000003; // IO_REPARSE_TAG_MOUNT_POINT

// Reparse data of an open link. A mount point whose data the system does
// not keep (Wine shows a Unix mount point so, and has no reparse data) is a
// volume's mount; `unread` says so, and the volume it leads to must then
// differ from its folder's.
ReparseKind reparseKindOf(const Opened& link, bool& unread)
{
    std::vector<BYTE> data(kReparseDataBytes);
    DWORD bytes = 0;
    unread = false;
    if (DeviceIoControl(link.handle.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(), kReparseDataBytes, &bytes,
                        nullptr))
        return classifyReparseData(data.data(), bytes);
    unread = GetLastError() == ERROR_NOT_A_REPARSE_POINT && link.reparseTag == kTagMountPoint;
    return unread ? ReparseKind::VolumeMount : ReparseKind::Link;
}

// A folder on the way that is a link: passed when it mounts a volume or is
// the machine's own, else refused. The folder it leads to replaces it.
Refusal passLink(const Opened& folder, Opened& entry, const std::wstring& name, const EntryRequest& request)
{
    bool unread = false;
    const ReparseKind kind = reparseKindOf(entry, unread);
    if (kind == ReparseKind::NotALink) return Refusal::None;
    if (kind == ReparseKind::Link) {
        UniqueHandle linkSecurity, folderSecurity;
        const DWORD options = FILE_OPEN_REPARSE_POINT | FILE_DIRECTORY_FILE;
        if (openRelative(folder.handle.get(), name, READ_CONTROL, kShareAll, FILE_OPEN, options, 0, linkSecurity) !=
                ERROR_SUCCESS ||
            openRelative(folder.handle.get(), L"", READ_CONTROL, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, 0,
                         folderSecurity) != ERROR_SUCCESS ||
            !isMachineOwnedLink(linkSecurity.get(), folderSecurity.get()))
            return Refusal::Link;
    }
    // Through the link, to what it leads to.
    entry.error = openRelative(folder.handle.get(), name, request.access, request.share, FILE_OPEN, FILE_DIRECTORY_FILE,
                               0, entry.handle);
    if (entry.error != ERROR_SUCCESS) return Refusal::Failed;
    if (!finalPathOf(entry.handle.get(), entry.finalPath) || !identityOf(entry.handle.get(), entry.identity) ||
        !readState(entry)) {
        entry.error = lastErrorOr(ERROR_GEN_FAILURE);
        return Refusal::Failed;
    }
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Refusal::Link; // a link to a link
    if (kind != ReparseKind::VolumeMount) return Refusal::None;
    if (unread) return entry.identity.volume != folder.identity.volume ? Refusal::None : Refusal::Link;
    return isRootName(entry.finalPath) ? Refusal::None : Refusal::Link;
}

} // namespace

bool identityOf(HANDLE object, FileIdentity& identity)
{
    FileIdInfoBlock info = {};
    identity = FileIdentity();
    if (GetFileInformationByHandleEx(object, kFileIdInfo, &info, sizeof(info))) {
        identity.volume = info.volume;
        memcpy(identity.id, info.id, sizeof(identity.id));
        return true;
    }
    // Windows 7 has the 64-bit index only, which NTFS keeps unique.
    BY_HANDLE_FILE_INFORMATION classic = {};
    if (!GetFileInformationByHandle(object, &classic)) return false;
    identity.volume = classic.dwVolumeSerialNumber;
    memcpy(identity.id, &classic.nFileIndexLow, sizeof(DWORD));
    memcpy(identity.id + sizeof(DWORD), &classic.nFileIndexHigh, sizeof(DWORD));
    return true;
}

bool sameIdentity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && memcmp(a.id, b.id, sizeof(a.id)) == 0;
}

bool finalPathOf(HANDLE object, std::wstring& path)
{
    for (const DWORD flags : {FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, FILE_NAME_NORMALIZED | VOLUME_NAME_GUID,
                              FILE_NAME_OPENED | VOLUME_NAME_DOS, FILE_NAME_OPENED | VOLUME_NAME_GUID}) {
        const DWORD needed = GetFinalPathNameByHandleW(object, nullptr, 0, flags);
        if (needed == 0) continue;
        path.assign(needed, L'\0');
        const DWORD chars = GetFinalPathNameByHandleW(object, &path[0], needed, flags);
        if (chars > 0 && chars < needed) {
            path.resize(chars);
            return true;
        }
    }
    // Wine answers none of these past MAX_PATH; the object's own name then,
    // "\??\C:\..." (Wine) or "\Device\...", in a form that opens again.
    std::vector<BYTE> name(sizeof(UNICODE_STRING) + 65536);
    ULONG bytes = 0;
    if (NtQueryObject(object, static_cast<OBJECT_INFORMATION_CLASS>(1), name.data(), static_cast<ULONG>(name.size()),
                      &bytes) >= 0) {
        const auto* text = reinterpret_cast<const UNICODE_STRING*>(name.data());
        const std::wstring raw(text->Buffer, text->Length / sizeof(wchar_t));
        if (raw.compare(0, 4, L"\\??\\") == 0) {
            path = L"\\\\?\\" + raw.substr(4);
            return true;
        }
        if (raw.compare(0, 8, L"\\Device\\") == 0) {
            path = L"\\\\?\\GLOBALROOT" + raw;
            return true;
        }
    }
    path.clear();
    return false;
}


Opened openEntry(const Opened& folder, const std::wstring& name, const EntryRequest& request)
{
    Opened entry;
    if (!folder || name.empty() || name.find_first_of(L"\\/") != std::wstring::npos) {
        entry.error = ERROR_INVALID_NAME;
        return entry;
    }
    const ULONG kind = request.folder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE;
    NTSTATUS status = 0;
    entry.error = openRelative(folder.handle.get(), name, request.access, request.share, request.disposition,
                               kind | FILE_OPEN_REPARSE_POINT, request.createAttributes, entry.handle, &status);
    if (entry.error != ERROR_SUCCESS) {
        if (status == kStatusFileIsADirectory)
            entry.refusal = Refusal::NotFile;
        else if (status == kStatusNotADirectory)
            entry.refusal = Refusal::NotFolder;
        else
            entry.refusal = isMissingError(entry.error) ? Refusal::Missing : Refusal::Failed;
        return entry;
    }
    if (!readState(entry)) {
        entry.error = lastErrorOr(ERROR_GEN_FAILURE);
        entry.handle.reset();
        return entry;
    }
    Refusal refusal = Refusal::None;
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = request.folder ? passLink(folder, entry, name, request) : Refusal::Link;
    else
        refusal = checkAgainstFolder(folder, entry, name, request.check);
    if (refusal == Refusal::None && request.folder != ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        refusal = request.folder ? Refusal::NotFolder : Refusal::NotFile;
    entry.refusal = refusal;
    if (refusal != Refusal::None) entry.handle.reset();
    return entry;
}

Opened openFolder(const std::wstring& path, ACCESS_MASK access, DWORD share, bool createMissing)
{
    Opened current;
    std::wstring root;
    std::vector<std::wstring> names;
    if (!splitPath(path, root, names)) {
        current.error = ERROR_BAD_PATHNAME;
        return current;
    }
    // The anchor: the drive or share itself, whatever it maps to.
    const HANDLE anchor = CreateFileW(root.c_str(), kWalkAccess, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (anchor == INVALID_HANDLE_VALUE) {
        current.error = lastErrorOr(ERROR_PATH_NOT_FOUND);
        current.refusal = isMissingError(current.error) ? Refusal::Missing : Refusal::Failed;
        return current;
    }
    current.handle.reset(anchor);
    if (!finalPathOf(anchor, current.finalPath) || !identityOf(anchor, current.identity) || !readState(current)) {
        current.error = lastErrorOr(ERROR_GEN_FAILURE);
        current.handle.reset();
        return current;
    }
    current.refusal = Refusal::None;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        EntryRequest request;
        request.folder = true;
        request.access = kWalkAccess | (last ? access : 0);
        request.share = last ? share : kShareAll;
        Opened next = openEntry(current, names[i], request);
        if (next.refusal == Refusal::Missing && createMissing) {
            request.disposition = FILE_CREATE;
            next = openEntry(current, names[i], request);
            if (next.refusal == Refusal::Failed && (next.error == ERROR_FILE_EXISTS || next.error == ERROR_ALREADY_EXISTS)) {
                request.disposition = FILE_OPEN; // made meanwhile by someone else: taken as found
                next = openEntry(current, names[i], request);
            }
        }
        if (!next) {
            if (!last && next.refusal == Refusal::Link) next.refusal = Refusal::LinkInPath;
            if (next.refusal == Refusal::Missing) next.error = ERROR_PATH_NOT_FOUND; // a folder, on the way or asked for
            return next;
        }
        current = std::move(next);
    }
    return current;
}

Opened openFileAt(const std::wstring& path, const EntryRequest& request)
{
    std::wstring folderPath, name;
    Opened folder;
    if (!splitLastName(plainForm(path), folderPath, name)) {
        folder.error = ERROR_BAD_PATHNAME;
        return folder;
    }
    folder = openFolder(folderPath, 0, kShareAll);
    if (!folder) {
        if (folder.refusal == Refusal::Link) folder.refusal = Refusal::LinkInPath;
        return folder;
    }
    return openEntry(folder, name, request);
}

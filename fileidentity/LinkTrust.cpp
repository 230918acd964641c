#include "LinkTrust.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

namespace {

// REPARSE_DATA_BUFFER as Microsoft documents it: a tag, a length, and for
// mount points and symbolic links the substitute and print names.
struct ReparseHeader {
    ULONG ReparseTag;
    USHORT ReparseDataLength;
    USHORT Reserved;
    USHORT SubstituteNameOffset;
    USHORT SubstituteNameLength;
    USHORT PrintNameOffset;
    USHORT PrintNameLength;
};
const std::size_t kHeaderBytes = 8;                         // tag, data length, reserved
const std::size_t kMountPathOffset = sizeof(ReparseHeader); // PathBuffer of a mount point
const ULONG kNameSurrogateBit = 0x20000000;                 // IsReparseTagNameSurrogate
const ULONG kTagMountPoint = 0xA0000003;                    // IO_REPARSE_TAG_MOUNT_POINT

// "\??\Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\" and nothing after it.
bool isVolumeRoot(const wchar_t* name, std::size_t chars)
{
    static const wchar_t kPrefix[] = L"\\??\\Volume{";
    const std::size_t prefixChars = sizeof(kPrefix) / sizeof(wchar_t) - 1;
    const std::size_t guidChars = 36;
    if (chars != prefixChars + guidChars + 2 || wcsncmp(name, kPrefix, prefixChars) != 0) return false;
    for (std::size_t i = 0; i < guidChars; ++i) {
        const wchar_t c = name[prefixChars + i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (dash ? c != L'-' : !hex) return false;
    }
    return name[prefixChars + guidChars] == L'}' && name[prefixChars + guidChars + 1] == L'\\';
}

// The machine's own accounts (Microsoft's "Well-known SIDs").
bool isMachineAccount(PSID sid)
{
    static const wchar_t* const kAccounts[] = {
        L"S-1-5-18",     // SYSTEM
        L"S-1-5-32-544", // BUILTIN\Administrators
        L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", // NT SERVICE\TrustedInstaller
    };
    for (const wchar_t* text : kAccounts) {
        PSID known = nullptr;
        if (!ConvertStringSidToSidW(text, &known)) continue;
        const bool same = EqualSid(sid, known) != FALSE;
        LocalFree(known);
        if (same) return true;
    }
    return false;
}

// Rights that let their holder change what a link leads to ("File Security
// and Access Rights"; FSCTL_SET_REPARSE_POINT wants write access), and
// rights on the holding folder that let its holder delete the link and lay
// another at its name. Adding entries to a folder replaces none.
const ACCESS_MASK kLinkChangeRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES |
                                      FILE_WRITE_EA | GENERIC_WRITE | GENERIC_ALL;
const ACCESS_MASK kFolderChangeRights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

} // namespace

ReparseKind classifyReparseData(const void* data, std::size_t bytes)
{
    if (bytes < kHeaderBytes) return ReparseKind::Link;
    const auto* header = static_cast<const ReparseHeader*>(data);
    if (!(header->ReparseTag & kNameSurrogateBit)) return ReparseKind::NotALink;
    if (header->ReparseTag != kTagMountPoint || bytes < kMountPathOffset) return ReparseKind::Link;
    const std::size_t start = kMountPathOffset + header->SubstituteNameOffset;
    const std::size_t length = header->SubstituteNameLength;
    if (length % sizeof(wchar_t) != 0 || start + length > bytes || kHeaderBytes + header->ReparseDataLength > bytes)
        return ReparseKind::Link;
    const auto* name = reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(data) + start);
    return isVolumeRoot(name, length / sizeof(wchar_t)) ? ReparseKind::VolumeMount : ReparseKind::Link;
}

bool isMachineOnly(PSECURITY_DESCRIPTOR descriptor, bool isHoldingFolder)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !isMachineAccount(owner)) return false;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
    const ACCESS_MASK changeRights = isHoldingFolder ? kFolderChangeRights : kLinkChangeRights;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue; // refusing makes nobody a changer
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false; // nothing counted on that is not read
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & changeRights) && !isMachineAccount(const_cast<DWORD*>(&allowed->SidStart))) return false;
    }
    return true;
}

bool isMachineOwnedLink(HANDLE link, HANDLE holdingFolder)
{
    const auto check = [](HANDLE object, bool isHoldingFolder) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            return false;
        const bool machineOnly = isMachineOnly(descriptor, isHoldingFolder);
        LocalFree(descriptor);
        return machineOnly;
    };
    return check(link, false) && check(holdingFolder, true);
}

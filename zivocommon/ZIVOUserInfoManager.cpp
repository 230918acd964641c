// Users and their root key files.
#include <windows.h>
#include <sddl.h>

#include <memory>
#include <vector>

#include "UniqueHandle.h"
#include "ZIVOCommon.h"

namespace {

const wchar_t kRootKeyName[] = L"ZIVO\\ZIVORoot.key";
const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

std::vector<std::unique_ptr<ZIVOUserInfo>> g_users;

std::wstring currentUserSid()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD bytes = 0;
    (void)GetTokenInformation(token.get(), TokenUser, nullptr, 0, &bytes);
    std::vector<BYTE> buffer(bytes ? bytes : 1);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), bytes, &bytes)) return {};
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

std::wstring expand(const std::wstring& text)
{
    wchar_t out[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsW(text.c_str(), out, MAX_PATH);
    return n > 0 && n <= MAX_PATH ? std::wstring(out) : std::wstring();
}

// Another user's roaming folder, from the system's profile list.
std::wstring roamingFolderOf(const std::wstring& sid)
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kProfileList + sid).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) !=
        ERROR_SUCCESS)
        return {};
    wchar_t profile[MAX_PATH] = {};
    DWORD bytes = sizeof profile - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), L"ProfileImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(profile), &bytes) !=
        ERROR_SUCCESS)
        return {};
    const std::wstring folder = expand(profile);
    return folder.empty() ? folder : folder + L"\\AppData\\Roaming";
}

} // namespace

ZIVOUserInfo* ZIVOUserInfoManager::getCurrentLogonUser()
{
    const std::wstring sid = currentUserSid();
    if (sid.empty()) return nullptr;
    wchar_t name[256] = {};
    DWORD nameChars = 256;
    if (!GetUserNameW(name, &nameChars)) return nullptr;
    wchar_t domain[256] = {};
    DWORD domainChars = 256;
    if (!GetComputerNameW(domain, &domainChars)) domain[0] = L'\0';

    g_users.push_back(std::unique_ptr<ZIVOUserInfo>(new ZIVOUserInfo{domain, name, sid}));
    return g_users.back().get();
}

void ZIVOUserInfoManager::releaseUsers()
{
    g_users.clear();
}

std::wstring getUserRootKeyFilePath(const std::wstring& userSid, const std::wstring& /*userName*/,
                                    std::wstring /*reserved*/)
{
    // The running user's roaming folder is the one its session names.
    std::wstring roaming = userSid == currentUserSid() ? expand(L"%APPDATA%") : roamingFolderOf(userSid);
    if (roaming.empty() || roaming == L"%APPDATA%") return {};
    if (roaming.back() != L'\\') roaming += L'\\';
    return roaming + kRootKeyName;
}

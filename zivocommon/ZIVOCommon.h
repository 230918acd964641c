// The product's key library, as far as the key import program uses it.
// This build is a stand-in for the product's own ZIVOCommon; see README.
#pragma once

#include <string>

#if defined(ZIVOCOMMON_BUILD)
#define ZIVOCOMMON_API __declspec(dllexport)
#else
#define ZIVOCOMMON_API __declspec(dllimport)
#endif

// Results of the library: 0 is success, anything else a reason for refusal.
typedef int COMMON_RESULT;
enum : COMMON_RESULT {
    COMMON_OK = 0,
    COMMON_FILE_UNREADABLE = 1,
    COMMON_KEY_WRONG_SIZE = 2,
    COMMON_KEY_WRONG_MAGIC = 3,
    COMMON_KEY_WRONG_VERSION = 4,
    COMMON_KEY_WRONG_LENGTH = 5,
    COMMON_KEY_WRONG_CHECKSUM = 6,
};

// One user known to the library. Records belong to the library and are
// given back with ZIVOUserInfoManager::releaseUsers.
struct ZIVOUserInfo {
    std::wstring domain;
    std::wstring userName;
    std::wstring userSid;
};

class ZIVOUserInfoManager {
public:
    // The user the calling process runs as, or null.
    ZIVOCOMMON_API static ZIVOUserInfo* getCurrentLogonUser();
    ZIVOCOMMON_API static void releaseUsers();
};

// Full path of the user's root key file: ZIVO\ZIVORoot.key in the user's
// roaming application data. `reserved` selects nothing yet; pass "".
ZIVOCOMMON_API std::wstring getUserRootKeyFilePath(const std::wstring& userSid, const std::wstring& userName,
                                                   std::wstring reserved);

class ZIVOKey {
public:
    // Loads the key file at `path` (option 0: the file format of this
    // library). 0 when it holds a usable key. Whenever the file could be
    // read, a key object is left in `key`, usable or not; the caller owns
    // it and releases it with delete.
    ZIVOCOMMON_API static COMMON_RESULT loadZIVOKey(ZIVOKey*& key, std::wstring& path, int option);
    ZIVOCOMMON_API ~ZIVOKey();

private:
    ZIVOKey() = default;
    ZIVOKey(const ZIVOKey&) = delete;
    ZIVOKey& operator=(const ZIVOKey&) = delete;

    unsigned char m_key[32] = {};
    unsigned short m_keyBytes = 0;
};

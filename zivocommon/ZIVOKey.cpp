// Loading and checking key files.
#include <windows.h>

#include <cstring>
#include <vector>

#include "UniqueHandle.h"
#include "KeyFileFormat.h"
#include "ZIVOCommon.h"

namespace {

COMMON_RESULT resultOf(keyfile::Verdict verdict)
{
    switch (verdict) {
    case keyfile::Verdict::Usable: return COMMON_OK;
    case keyfile::Verdict::WrongSize: return COMMON_KEY_WRONG_SIZE;
    case keyfile::Verdict::WrongMagic: return COMMON_KEY_WRONG_MAGIC;
    case keyfile::Verdict::WrongVersion: return COMMON_KEY_WRONG_VERSION;
    case keyfile::Verdict::WrongKeyLength: return COMMON_KEY_WRONG_LENGTH;
    case keyfile::Verdict::WrongChecksum: return COMMON_KEY_WRONG_CHECKSUM;
    }
    return COMMON_KEY_WRONG_SIZE;
}

} // namespace

COMMON_RESULT ZIVOKey::loadZIVOKey(ZIVOKey*& key, std::wstring& path, int option)
{
    if (option != 0) return COMMON_FILE_UNREADABLE;
    // A folder does not open here: no backup semantics are asked for.
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return COMMON_FILE_UNREADABLE;

    // One byte more than the largest key file shows a file that is too long.
    std::uint8_t data[keyfile::kMaxFileBytes + 1];
    DWORD size = 0;
    if (!ReadFile(file.get(), data, sizeof data, &size, nullptr)) return COMMON_FILE_UNREADABLE;

    std::vector<std::uint8_t> keyBytes;
    ZIVOKey* loaded = new ZIVOKey;
    const COMMON_RESULT result = resultOf(keyfile::decode(data, size, keyBytes));
    if (result == COMMON_OK) {
        std::memcpy(loaded->m_key, keyBytes.data(), keyBytes.size());
        loaded->m_keyBytes = static_cast<unsigned short>(keyBytes.size());
    }
    SecureZeroMemory(data, sizeof data);
    SecureZeroMemory(keyBytes.data(), keyBytes.size());
    key = loaded;
    return result;
}

ZIVOKey::~ZIVOKey()
{
    SecureZeroMemory(m_key, sizeof m_key);
}

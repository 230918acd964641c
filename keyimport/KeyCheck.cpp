#include "KeyCheck.h"

#include "ZIVOCommon.h"

bool isUsableKeyFile(const std::wstring& path)
{
    std::wstring libraryPath = path; // the library takes a modifiable path
    ZIVOKey* key = NULL;
    const COMMON_RESULT result = ZIVOKey::loadZIVOKey(key, libraryPath, 0);
    // The library may hand a key object back either way; it is ours.
    delete key;
    return result == 0;
}

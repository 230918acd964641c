#include "KeyCheck.h"

#include "ZIVOCommon.h"

bool isUsableKeyFile(const std::wstring& strPath)
{
    std::wstring strLibraryPath = strPath; // the library takes a modifiable path
    ZIVOKey* pKey = NULL;
    const COMMON_RESULT nResult = ZIVOKey::loadZIVOKey(pKey, strLibraryPath, 0);
    // The library may hand a key object back either way; it is ours.
    delete pKey;
    return nResult == 0;
}

#include "KeyCheck.h"

#include <windows.h>

#include "UniqueHandle.h"
#include "ZIVOCommon.h"

namespace {

// Only a file or folder on a disk goes to the library: a live pipe or a
// device would pass for an existing path, and reading it could block.
bool isDiskObject(const std::wstring& path)
{
    const UniqueFileHandle object(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL));
    // One that cannot be opened is the library's to refuse.
    return !object || GetFileType(object.get()) == FILE_TYPE_DISK;
}

} // namespace

bool isUsableKeyFile(const std::wstring& path)
{
    if (!isDiskObject(path)) return false;
    std::wstring libraryPath = path; // the library takes a modifiable path
    ZIVOKey* key = NULL;
    const COMMON_RESULT result = ZIVOKey::loadZIVOKey(key, libraryPath, 0);
    // The library may hand a key object back either way; it is ours.
    delete key;
    return result == 0;
}

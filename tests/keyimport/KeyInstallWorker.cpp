// Imports two keys in turn into one root key file, for ever, through the
// key import's own backup-free replacement: a test ends it at random
// moments. Signals the event named on its command line once it runs.
//   KeyInstallWorker.exe ROOTKEY KEY_A KEY_B EVENT
#include <windows.h>

#include "ImportLock.h"
#include "RootKeyFile.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) return 2;
    RootKeySite site;
    KeyFileBytes keys[2];
    if (!makeRootKeySite(argv[1], site) || openRootKeyFolder(site) != ERROR_SUCCESS ||
        readKeyFile(argv[2], keys[0]) != ERROR_SUCCESS || readKeyFile(argv[3], keys[1]) != ERROR_SUCCESS)
        return 3;
    HANDLE running = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[4]);
    if (running) SetEvent(running);
    for (unsigned round = 0;; ++round) {
        const KeyFileBytes& chosen = keys[round % 2];
        const ImportLock lock(site, chosen.identity);
        if (lock.error() != ERROR_SUCCESS) return 4;
        removeLeftoverStaging(site, chosen.identity);
        KeyFileBytes root;
        const bool hasRoot = readRootKey(site, root) == ERROR_SUCCESS;
        if (installKey(site, chosen, hasRoot ? &root : nullptr).result != KeyInstallResult::Installed) return 5;
    }
}

// Removes the product: stops its programs, closes the flash-memory program,
// removes the ten sub-packages and the main package, deletes the uninstall
// entry and cycles the Windows shell. No window, no message; exit code 0.
#include <windows.h>

#include <cwchar>

#include "../../handles/UniqueHandle.h"
#include "../ProcessControl.h"
#include "../SetupConstants.h"
#include "InstallFolder.h"
#include "UninstallConstants.h"

namespace {

int silentMode = 0;
wchar_t uninstallEntryPath[MAX_PATH];

const int kParameterChars = 200;

// Closes the flash-memory program while its event exists. Started only from
// a known install folder: this program runs elevated, and the bare name
// would let the search order pick up a planted program of that name.
void runFlashClose()
{
    UniqueHandle event(CreateEventW(nullptr, TRUE, TRUE, EVENT_FLASH));
    wchar_t szFlashPath[MAX_PATH];
    if (flashProgramPath(szFlashPath)) startAndWait(szFlashPath, ARGS_FLASH_CLOSE);
}

void removeMainPackage()
{
    wchar_t szParameters[kParameterChars];
    if (buildRemoveParameters(silentMode, PRODUCT_CODE_MAIN, szParameters, kParameterChars))
        startAndWait(EXE_MSIEXEC, szParameters);
}

void deleteUninstallEntry()
{
    UniqueRegKey machine;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"", 0, KEY_QUERY_VALUE, machine.put()) != ERROR_SUCCESS) return;
    (void)RegDeleteKeyW(machine.get(), uninstallEntryPath);
}

void restartShell()
{
    startShell();
    UniqueHandle shell;
    for (int nTries = 0; nTries < 2 && !shell; ++nTries) {
        Sleep(2000);
        const DWORD dwShell = findProcessByModulePath(MODULE_EXPLORER);
        if (dwShell != 0) shell.reset(OpenProcess(PROCESS_ALL_ACCESS, FALSE, dwShell));
        if (!shell) startShell();
    }
    shell.reset();
    Sleep(1000);
    terminateShell();
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR lpCmdLine, int)
{
    // Both pieces are constants: the 95 characters always fit.
    wmemset(uninstallEntryPath, L'\0', MAX_PATH);
    (void)wsprintfW(uninstallEntryPath, FMT_UNINSTALL_ENTRY, KEY_UNINSTALL_ENTRY, PRODUCT_CODE_ENTRY);
    if (lpCmdLine && _wcsicmp(lpCmdLine, SWITCH_SILENT) == 0) silentMode = 1;

    enableDebugPrivilege();
    stopProductProcesses();
    runFlashClose();
    removeSubPackages(silentMode);
    killShell();
    removeMainPackage();
    deleteUninstallEntry();
    restartShell();
    return 0;
}

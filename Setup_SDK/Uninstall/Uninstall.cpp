// Removes the product: stops its programs, closes the flash-memory program,
// removes the ten sub-packages and the main package, deletes the uninstall
// entry once every removal is done, and cycles the Windows shell of its own
// session. No window, no message. The exit code is what the package
// removals gave, in Windows Installer's own codes.
#include <windows.h>

#include <cwchar>

#include "UniqueHandle.h"
#include "FixedText.h"
#include "OutsideValues.h"
#include "ProcessControl.h"
#include "SetupConstants.h"
#include "CommandLine.h"
#include "UninstallConstants.h"

namespace {

int silentMode = 0;
wchar_t uninstallEntryPath[MAX_PATH];

// The flash-memory program in the install folder. Only an install folder
// that is a whole, absolute path ending in a backslash counts: this program
// runs elevated, and a bare name, a relative folder or a folder name run
// into the program's would let a planted program of that name run.
bool flashProgramPath(wchar_t (&path)[MAX_PATH])
{
    wchar_t folder[kRegistryTextChars];
    if (readInstallFolder(folder) != PathValue::Usable) return false;
    return joinText(path, static_cast<const wchar_t*>(folder), EXE_FLASH);
}

// Closes the flash-memory program while its event exists.
void runFlashClose()
{
    UniqueHandle event(CreateEventW(nullptr, TRUE, TRUE, EVENT_FLASH));
    wchar_t flashPath[MAX_PATH];
    // Its outcome is not a removal's: it does not reach the exit code.
    if (flashProgramPath(flashPath)) (void)startAndWait(flashPath, ARGS_FLASH_CLOSE);
}

void deleteUninstallEntry()
{
    UniqueRegKey machine;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"", 0, KEY_QUERY_VALUE, machine.put()) != ERROR_SUCCESS) return;
    (void)RegDeleteKeyW(machine.get(), uninstallEntryPath);
}

// The new shell runs as the session's user, never with this program's
// rights (an administrator elevated in a standard user's session, or
// SYSTEM): without the user's token the restart is left to Windows.
void restartShell(HANDLE userToken)
{
    if (!userToken || !startShellAs(userToken)) return;
    UniqueHandle shell;
    for (int tries = 0; tries < 2 && !shell; ++tries) {
        Sleep(2000);
        shell = findSessionShell(SYNCHRONIZE);
        if (!shell) (void)startShellAs(userToken);
    }
    shell.reset();
    Sleep(1000);
    terminateForeignShells(userToken);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // Both pieces are constants: the 95 characters always fit.
    wmemset(uninstallEntryPath, L'\0', MAX_PATH);
    (void)wsprintfW(uninstallEntryPath, FMT_UNINSTALL_ENTRY, KEY_UNINSTALL_ENTRY, PRODUCT_CODE_ENTRY);
    // The raw command line: the runtime's own split of it differs for a
    // quoted program name that a switch follows without a blank.
    if (isSilentSwitch(GetCommandLineW())) silentMode = 1;

    enableDebugPrivilege();
    stopProductProcesses();
    runFlashClose();
    // Every step runs whatever a removal gave; only the exit code tells.
    RemovalOutcome removals;
    removeSubPackages(silentMode, removals);
    // Session 0 (a service or a deployment system running this as SYSTEM)
    // has no user's shell to cycle, and one started there shows nobody a
    // desktop; a shell extension still loaded then makes the main removal
    // ask for a restart (3010).
    const bool hasShell = ownSession() != 0;
    // Whose the session's shell is, asked before it is ended.
    UniqueHandle userToken;
    if (hasShell) {
        userToken = sessionUserToken();
        killShell();
    }
    removals.add(removePackage(silentMode, PRODUCT_CODE_MAIN));
    // A product that is still partly installed keeps its entry, so the
    // removal can be run again from the installed programs.
    if (removals.allDone()) deleteUninstallEntry();
    if (hasShell) restartShell(userToken.get());
    return static_cast<int>(removals.exitCode());
}

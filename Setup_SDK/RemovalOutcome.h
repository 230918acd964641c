// What the package removals of one uninstall gave, as the uninstaller's exit
// code in Windows Installer's own codes, so a deployment system can tell a
// removal that failed, one to retry and one that needs a restart.
#pragma once

#include <windows.h>

class RemovalOutcome {
public:
    // One removal's MsiExec.exe exit code, or the error that kept it from
    // starting. 0 and 1605 (not installed) are done; 3010 and 1641 are done
    // with a restart needed or started; anything else failed.
    void add(DWORD code);
    // The first failure's code in run order; without one, 1641 when any
    // removal started a restart, else 3010 when any needs one, else 0.
    DWORD exitCode() const;
    // True when every removal so far was done (0, 1605, 3010 or 1641): only
    // then is the product gone, and its uninstall entry may go with it.
    bool allDone() const { return m_firstFailure == ERROR_SUCCESS; }

private:
    DWORD m_firstFailure = ERROR_SUCCESS;
    bool m_restartStarted = false;
    bool m_restartNeeded = false;
};

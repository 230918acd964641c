// Process and shell control for the uninstaller: the debug privilege, the
// product's processes, Windows Installer removals and the Windows shell.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>

void enableDebugPrivilege();
void stopProductProcesses();
BOOL firstProcessEntry(HANDLE hSnapshot, PROCESSENTRY32W* pEntry);
BOOL nextProcessEntry(HANDLE hSnapshot, PROCESSENTRY32W* pEntry);
void terminateAndWait(DWORD dwProcessId);
DWORD findProcessByModulePath(const char* szSubstring);
// Starts a program and waits for it to end. No program is started by bare
// name, and none shows a shell error box: one that cannot be started is
// skipped at once.
void startAndWait(const wchar_t* szFile, const wchar_t* szParameters);
// One Windows Installer removal ("/quiet /X " in mode 1, else
// "/passive /X ", then the code), run by MsiExec.exe of the system folder
// and waited for.
void removePackage(int nMode, const wchar_t* szProductCode);
void removeSubPackages(int nMode);
void killShell();
void startShell();
void terminateShell();

// The text after the last backslash, or the whole text.
const wchar_t* baseNameOf(const wchar_t* szPath);
// Which product executable a process base name is, exactly and with case;
// null for none.
const wchar_t* productExecutableFor(const wchar_t* szBaseName);
// The full path of a program in the system folder (GetSystemDirectoryW) or
// the Windows folder (GetWindowsDirectoryW); false when it does not fit.
// This program runs elevated: a bare name would let a program planted in
// the current folder or beside this one run in the system program's place.
bool systemProgramPath(const wchar_t* szName, wchar_t (&szPath)[MAX_PATH]);
bool windowsProgramPath(const wchar_t* szName, wchar_t (&szPath)[MAX_PATH]);

// "/quiet /X " (mode 1) or "/passive /X " followed directly by the code, in
// the zero-filled buffer; false when it would not fit.
bool buildRemoveParameters(int nMode, const wchar_t* szProductCode, wchar_t* szBuffer, std::size_t nCapacity);

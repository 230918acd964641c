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
void startAndWait(const wchar_t* szFile, const wchar_t* szParameters);
void removeSubPackages(int nMode);
void killShell();
void startShell();
void terminateShell();

// The text after the last backslash, or the whole text.
const wchar_t* baseNameOf(const wchar_t* szPath);
// Which product executable a process base name is, exactly and with case;
// null for none.
const wchar_t* productExecutableFor(const wchar_t* szBaseName);
// "/quiet /X " (mode 1) or "/passive /X " followed directly by the code, in
// the zero-filled buffer; false when it would not fit.
bool buildRemoveParameters(int nMode, const wchar_t* szProductCode, wchar_t* szBuffer, std::size_t nCapacity);

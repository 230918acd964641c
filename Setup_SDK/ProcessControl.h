// Process and shell control for the uninstaller: the debug privilege, the
// product's processes, Windows Installer removals and the Windows shell.
// Every step is best effort: a failing call skips what it concerns.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>

#include "RemovalOutcome.h"
#include "UniqueHandle.h"

// How long a step waits on what others control: the tray window's answer
// and the end of a terminated process. A program that never answers cannot
// hold the elevated uninstaller.
inline constexpr UINT kTrayAnswerMs = 10000;
inline constexpr DWORD kTerminationWaitMs = 30000;

void enableDebugPrivilege();
void stopProductProcesses();
BOOL firstProcessEntry(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL nextProcessEntry(HANDLE snapshot, PROCESSENTRY32W* entry);
void terminateAndWait(DWORD processId);
// The first process, in the order the system lists them, whose executable
// is the Windows folder's `moduleName`: the folder compared without regard
// to case, the name byte for byte. It is opened with `access` besides what
// the check needs, so the process acted on is the one whose path was
// checked. Empty when there is none.
UniqueHandle findProcessByModulePath(const char* moduleName, DWORD access);
// True when the 8-bit executable path is `windowsFolder` + "\" + `moduleName`
// by the rule above.
bool isWindowsFolderModule(const char* path, const char* windowsFolder, const char* moduleName);
// Starts a program and waits for it to end. No program is started by bare
// name, and none shows a shell error box: one that cannot be started is
// skipped at once. The program's exit code, or the Windows error that kept
// it from starting or from being waited for (never 0 then).
DWORD startAndWait(const wchar_t* file, const wchar_t* parameters);
// One Windows Installer removal ("/quiet /X " in mode 1, else
// "/passive /X ", then the code), run by MsiExec.exe of the system folder
// and waited for; what startAndWait gave.
DWORD removePackage(int mode, const wchar_t* productCode);
void removeSubPackages(int mode, RemovalOutcome& outcome);
void killShell();
void startShell();
void terminateShell();

// The text after the last backslash, or the whole text.
const wchar_t* baseNameOf(const wchar_t* path);
// Which product executable a process base name is, exactly and with case;
// null for none.
const wchar_t* productExecutableFor(const wchar_t* baseName);
// The full path of a program in the system folder (GetSystemDirectoryW) or
// the Windows folder (GetWindowsDirectoryW); false when it does not fit.
// This program runs elevated: a bare name would let a program planted in
// the current folder or beside this one run in the system program's place.
bool systemProgramPath(const wchar_t* name, wchar_t (&path)[MAX_PATH]);
bool windowsProgramPath(const wchar_t* name, wchar_t (&path)[MAX_PATH]);

// "/quiet /X " (mode 1) or "/passive /X " followed directly by the code, in
// the zero-filled buffer; false when it would not fit.
bool buildRemoveParameters(int mode, const wchar_t* productCode, wchar_t* buffer, std::size_t capacity);

// Process and shell control for the uninstaller: the debug privilege, the
// product's processes, Windows Installer removals and the Windows shell.
// Every step is best effort: a failing call skips what it concerns.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>

#include "RemovalOutcome.h"
#include "UniqueHandle.h"

// How long a step waits on what others control: the tray windows' answers
// (one limit for all of them) and the end of the terminated processes (one
// limit for the whole step). A program that never answers cannot hold the
// elevated uninstaller.
inline constexpr DWORD kTrayAnswerMs = 10000;
inline constexpr DWORD kTerminationWaitMs = 30000;

void enableDebugPrivilege();
// Asks the product's tray windows to close, then terminates the product's
// programs in every session. A window or process counts as the product's
// only by the image path the system keeps for its process, never by what
// the process says of itself.
void stopProductProcesses();
BOOL firstProcessEntry(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL nextProcessEntry(HANDLE snapshot, PROCESSENTRY32W* entry);

// The session this program runs in; services and deployment systems run
// it in session 0, which has no user's desktop.
DWORD ownSession();
// The image path the system keeps for the process (not the loader list the
// process itself can rewrite); false when it cannot be read or does not fit.
bool processImagePath(HANDLE process, wchar_t (&path)[MAX_PATH]);
// The shell of this program's own session: the first process, in the order
// the system lists them, of this session whose image is the Windows
// folder's explorer.exe. It is opened with `access` besides what the check
// needs, so the process acted on is the one whose path was checked. Empty
// when there is none.
UniqueHandle findSessionShell(DWORD access);
// True when the image path is `windowsFolder` + "\" + `name`, compared
// without regard to case (Windows may record the shell as
// "C:\WINDOWS\Explorer.EXE").
bool isWindowsFolderProgram(const wchar_t* path, const wchar_t* windowsFolder, const wchar_t* name);
// Starts a program and waits for it to end. No program is started by bare
// name, and none shows a shell error box: one that cannot be started is
// skipped at once. The program's exit code, or the Windows error that kept
// it from starting or from being waited for (never 0 then).
DWORD startAndWait(const wchar_t* file, const wchar_t* parameters);
// One Windows Installer removal ("/quiet /X " in mode 1, else
// "/passive /X ", then the code and " /norestart"), run by MsiExec.exe of
// the system folder and waited for; what startAndWait gave.
DWORD removePackage(int mode, const wchar_t* productCode);
void removeSubPackages(int mode, RemovalOutcome& outcome);
// Ends the shells of this program's session only.
void killShell();

// The token a new shell of this session runs with: the session user's own,
// never this program's. Taken from the session's shell before it is ended
// (OpenProcessToken and DuplicateTokenEx; the debug privilege opens another
// user's shell), or, where this program runs as SYSTEM (a deployment system
// "allowing users to interact"), from the session itself
// (WTSQueryUserToken, which only SYSTEM may call). Empty when neither can
// be had: the restart is then left to Windows (Winlogon starts the shell
// again after it ends).
UniqueHandle sessionUserToken();
// Starts the Windows folder's explorer.exe with that token, in the user's
// own environment (CreateEnvironmentBlock): CreateProcessAsUserW where this
// program holds the privilege to assign a primary token (SYSTEM), else
// CreateProcessWithTokenW (an elevated administrator, with the
// impersonation privilege). False when neither starts it.
bool startShellAs(HANDLE userToken);
// Ends the shells of this session that do not run as the session's user
// (the user of `userToken`): one started with another account's rights
// must not stay in the user's session. A shell running as the user is
// never ended.
void terminateForeignShells(HANDLE userToken);

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

// "/quiet /X " (mode 1) or "/passive /X ", the code and " /norestart", in
// the zero-filled buffer; false when it would not fit.
bool buildRemoveParameters(int mode, const wchar_t* productCode, wchar_t* buffer, std::size_t capacity);
// "/f /im explorer.exe /fi "SESSION eq N"" for session N, in the
// zero-filled buffer; false when it would not fit.
bool buildShellKillParameters(DWORD session, wchar_t* buffer, std::size_t capacity);

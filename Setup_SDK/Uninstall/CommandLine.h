// The uninstaller's switch, read from the raw command line.
#pragma once

// The text after the program's own name and the blanks and control
// characters that follow it. A quoted name is skipped as a whole, quotes
// included, so '"C:\x\Uninstall.exe"/silent' gives "/silent".
const wchar_t* textAfterProgramName(const wchar_t* commandLine);

// True when that text is "/silent" in any letter case, and nothing else.
bool isSilentSwitch(const wchar_t* commandLine);

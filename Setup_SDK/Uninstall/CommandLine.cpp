#include "CommandLine.h"

#include <cwchar>

#include "UninstallConstants.h"

const wchar_t* textAfterProgramName(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p > L' ') ++p;
    }
    while (*p != L'\0' && *p <= L' ') ++p;
    return p;
}

bool isSilentSwitch(const wchar_t* commandLine)
{
    return _wcsicmp(textAfterProgramName(commandLine), SWITCH_SILENT) == 0;
}

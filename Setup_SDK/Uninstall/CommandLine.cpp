#include "CommandLine.h"

#include <cwchar>

#include "UninstallConstants.h"

const wchar_t* textAfterProgramName(const wchar_t* szCommandLine)
{
    const wchar_t* p = szCommandLine;
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

bool isSilentSwitch(const wchar_t* szCommandLine)
{
    return _wcsicmp(textAfterProgramName(szCommandLine), SWITCH_SILENT) == 0;
}

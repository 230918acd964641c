// String resources of the program's own module, of any length.
#pragma once

#include <windows.h>

#include <string>

class ResourceHelper {
public:
    // The string of that id, whole; empty when there is none.
    static std::wstring getStrFromRes(UINT id);
};

// Built only to fail: the two setup tools share only the setup code, never
// each other's.
#include "CommandLine.h"
#include "FolderRemoval.h"

int main()
{
    removeFolder(textAfterProgramName(L""));
    return 0;
}

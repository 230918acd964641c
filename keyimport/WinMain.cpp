// Entry of the key import program: one import attempt, exit code 0.
#include <windows.h>

#include "ZIVOEncryptKeyImport.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    (void)_importKey();
    return 0;
}

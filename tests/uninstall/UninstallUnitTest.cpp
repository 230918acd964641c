// The uninstaller's pure pieces: parameters, names and the install folder.
#include <gtest/gtest.h>

#include <cwchar>

#include "InstallFolder.h"
#include "ProcessControl.h"
#include "SetupConstants.h"

TEST(RemoveParameters, PrefixFollowedDirectlyByTheCode)
{
    wchar_t buffer[200];
    wmemset(buffer, L'#', 200);
    ASSERT_TRUE(buildRemoveParameters(1, SUB_PRODUCT_CODES[0], buffer, 200));
    EXPECT_STREQ(L"/quiet /X {4CA564D7-4F81-4C2C-9429-6609A57D26A5}", buffer);
    EXPECT_EQ(L'\0', buffer[199]); // zero-filled
    ASSERT_TRUE(buildRemoveParameters(0, PRODUCT_CODE_MAIN, buffer, 200));
    EXPECT_STREQ(L"/passive /X {1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}", buffer);
    ASSERT_TRUE(buildRemoveParameters(2, SUB_PRODUCT_CODES[9], buffer, 200));
    EXPECT_STREQ(L"/passive /X {43f6bc7b-7cd0-464c-bbad-5b25a5e89027}", buffer);

    // Too small: refused, nothing written past the buffer.
    wchar_t small[20 + 4];
    wmemset(small, L'#', 24);
    EXPECT_FALSE(buildRemoveParameters(1, PRODUCT_CODE_MAIN, small, 20));
    EXPECT_EQ(L'#', small[20]);
}

TEST(ProductNames, BaseNameMatchesExactlyAndWithCase)
{
    EXPECT_STREQ(L"ZIVOVault.exe", baseNameOf(L"C:\\Program Files\\HALVERN\\ZIVOVault.exe"));
    EXPECT_STREQ(L"ZIVOVault.exe", baseNameOf(L"ZIVOVault.exe"));
    EXPECT_STREQ(L"", baseNameOf(L"C:\\folder\\"));
    EXPECT_EQ(EXE_TRAY, productExecutableFor(L"ZIVOTray.exe"));
    EXPECT_EQ(EXE_VAULT, productExecutableFor(baseNameOf(L"C:\\x\\ZIVOVault.exe")));
    EXPECT_EQ(EXE_MAIN, productExecutableFor(L"ZIVOMain.exe"));
    EXPECT_EQ(EXE_ENROLL, productExecutableFor(L"ZIVOEnroll.exe"));
    EXPECT_EQ(nullptr, productExecutableFor(L"ZIVOTRAY.EXE"));
    EXPECT_EQ(nullptr, productExecutableFor(L"ZIVOTray.exe "));
    EXPECT_EQ(nullptr, productExecutableFor(L""));
}

TEST(InstallFolder, OnlyTerminatedNonEmptyStringsAreFolders)
{
    wchar_t value[kInstallFolderChars] = {};
    wchar_t folder[kInstallFolderChars];
    wcscpy(value, L"C:\\Program Files\\HALVERN\\Dactyra\\");
    EXPECT_TRUE(installFolderFromValue(REG_SZ, value, 68, folder));
    EXPECT_STREQ(value, folder);

    EXPECT_FALSE(installFolderFromValue(REG_DWORD, value, 4, folder));
    EXPECT_STREQ(L"", folder);
    EXPECT_FALSE(installFolderFromValue(REG_BINARY, value, 68, folder));

    wchar_t empty[kInstallFolderChars] = {};
    EXPECT_FALSE(installFolderFromValue(REG_SZ, empty, 2, folder));

    wchar_t full[kInstallFolderChars];
    wmemset(full, L'A', kInstallFolderChars); // 512 bytes, no terminator
    EXPECT_FALSE(installFolderFromValue(REG_SZ, full, 512, folder));
    EXPECT_STREQ(L"", folder);
}

// The key import's pure pieces in-process: texts, date-time layout, the key
// file format and the stand-in library's checks.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <cstring>
#include <memory>
#include <regex>
#include <thread>

#include "KeyFileFormat.h"
#include "KitTest.h"
#include "UnitStrings.h"
#include "ZIVOCommon.h"
#include "KeyCheck.h"
#include "LinkTrust.h"
// After windows.h, which the kit headers bring.
#include <sddl.h>
#include "PathForms.h"
#include "RootKeyFile.h"
#include "ZIVOEncryptKeyImport.h"
#include "common/ResourceHelper.h"

using namespace kittest;

TEST(ResourceText, StringsOfAnyLengthComeBackWhole)
{
    EXPECT_EQ(99u, ResourceHelper::getStrFromRes(IDS_TEST_99).size());
    EXPECT_EQ(100u, ResourceHelper::getStrFromRes(IDS_TEST_100).size());
    const std::wstring longest = ResourceHelper::getStrFromRes(IDS_TEST_250);
    EXPECT_EQ(250u, longest.size());
    EXPECT_EQ(L"1234567890", longest.substr(240));
    EXPECT_EQ(L"", ResourceHelper::getStrFromRes(IDS_TEST_MISSING));
}

TEST(DateTimeText, NineteenCharactersOfTheLocalTime)
{
    SYSTEMTIME before;
    GetLocalTime(&before);
    const std::wstring text = _getCurDateTime();
    ASSERT_EQ(19u, text.size());
    EXPECT_TRUE(std::regex_match(narrow(text), std::regex(R"(\d{4}-\d\d-\d\d [0-2]\d-[0-5]\d-[0-5]\d)"))) << narrow(text);
    wchar_t year[8];
    swprintf(year, 8, L"%04u-", before.wYear);
    EXPECT_EQ(year, text.substr(0, 5));
}

TEST(ErrorText, SystemTextIsCutAtItsLastLineFeed)
{
    std::wstring full;
    ASSERT_EQ(S_OK, formatErrorText(ERROR_PATH_NOT_FOUND, full));
    ASSERT_FALSE(full.empty());
    SetLastError(ERROR_PATH_NOT_FOUND);
    const std::wstring shown = getLastErrorText();
    EXPECT_EQ(full.substr(0, full.rfind(L'\n')), shown);
    EXPECT_EQ(std::wstring::npos, shown.find(L'\n'));

    SetLastError(0);
    EXPECT_EQ(L"", std::wstring(getLastErrorText()));

    // A code that neither message table knows.
    std::wstring none = L"marker";
    EXPECT_EQ(E_FAIL, formatErrorText(0x2FFFFFFF, none));
    SetLastError(0x2FFFFFFF);
    EXPECT_EQ(L"", std::wstring(getLastErrorText()));
}

TEST(KeyFileFormat, AcceptsWholeFilesAndRefusesDamagedOnes)
{
    for (size_t length : {16u, 24u, 32u}) {
        const std::vector<std::uint8_t> key(length, 0xA5);
        const auto file = keyfile::encode(key, 0);
        std::vector<std::uint8_t> decoded;
        EXPECT_EQ(keyfile::Verdict::Usable, keyfile::decode(file.data(), file.size(), decoded));
        EXPECT_EQ(key, decoded);
    }
    const auto good = keyfile::encode(std::vector<std::uint8_t>(32, 7), 0);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(keyfile::Verdict::WrongSize, keyfile::decode(good.data(), good.size() - 1, out));
    EXPECT_EQ(keyfile::Verdict::WrongSize, keyfile::decode(good.data(), 0, out));

    auto damaged = good;
    damaged[0] = 'X';
    EXPECT_EQ(keyfile::Verdict::WrongMagic, keyfile::decode(damaged.data(), damaged.size(), out));
    damaged = good;
    damaged[4] = 2;
    EXPECT_EQ(keyfile::Verdict::WrongVersion, keyfile::decode(damaged.data(), damaged.size(), out));
    damaged = good;
    damaged[6] = 20;
    EXPECT_EQ(keyfile::Verdict::WrongKeyLength, keyfile::decode(damaged.data(), damaged.size(), out));
    for (size_t i = 16; i < good.size(); ++i) {
        damaged = good;
        damaged[i] ^= 0x10;
        EXPECT_EQ(keyfile::Verdict::WrongChecksum, keyfile::decode(damaged.data(), damaged.size(), out)) << i;
    }
    // The standard check value of CRC-32.
    const std::string check = "123456789";
    EXPECT_EQ(0xCBF43926u, keyfile::crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()));
}

TEST(KeyLibrary, LoadsKeysAndHandsBackObjectsToDelete)
{
    ScratchDir dir(L"keylib");
    const auto good = keyfile::encode(std::vector<std::uint8_t>(24, 3), 0);
    writeFile(dir / L"good.key", std::string(good.begin(), good.end()));
    writeFile(dir / L"bad.key", std::string(good.begin(), good.end() - 1) + "x");
    makeDirs(dir / L"folder.key");

    std::wstring path = dir / L"good.key";
    ZIVOKey* key = nullptr;
    EXPECT_EQ(0, ZIVOKey::loadZIVOKey(key, path, 0));
    EXPECT_NE(nullptr, key);
    delete key;

    path = dir / L"bad.key";
    key = nullptr;
    EXPECT_EQ(COMMON_KEY_WRONG_CHECKSUM, ZIVOKey::loadZIVOKey(key, path, 0));
    EXPECT_NE(nullptr, key); // refused keys are handed back too
    delete key;

    for (const wchar_t* name : {L"folder.key", L"missing.key"}) {
        path = dir / name;
        key = nullptr;
        EXPECT_EQ(COMMON_FILE_UNREADABLE, ZIVOKey::loadZIVOKey(key, path, 0));
        EXPECT_EQ(nullptr, key);
    }
}

TEST(KeyLibrary, RootKeyLivesInTheUsersRoamingFolder)
{
    ZIVOUserInfo* user = ZIVOUserInfoManager::getCurrentLogonUser();
    ASSERT_NE(nullptr, user);
    EXPECT_EQ(0u, user->userSid.find(L"S-1-5-"));
    wchar_t appData[MAX_PATH] = {};
    GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
    EXPECT_EQ(std::wstring(appData) + L"\\ZIVO\\ZIVORoot.key",
              getUserRootKeyFilePath(user->userSid, user->userName, L""));
    ZIVOUserInfoManager::releaseUsers();
}

TEST(RootKeyPaths, TheSiteIsMadeOnceInLongFormAndOnlyForWholeAbsolutePaths)
{
    const std::wstring folder(240, L'd');
    struct Row {
        std::wstring given, longPath, folder;
    };
    const Row rows[] = {
        {L"C:\\Users\\demo\\ZIVO\\ZIVORoot.key", L"\\\\?\\C:\\Users\\demo\\ZIVO\\ZIVORoot.key", L"\\\\?\\C:\\Users\\demo\\ZIVO"},
        // "." and ".." are resolved first: the extended form takes names literally.
        {L"C:\\" + folder + L"\\x\\..\\.\\k", L"\\\\?\\C:\\" + folder + L"\\k", L"\\\\?\\C:\\" + folder},
        {L"\\\\server\\share\\k", L"\\\\?\\UNC\\server\\share\\k", L"\\\\?\\UNC\\server\\share"},
        {L"\\\\?\\C:\\long\\k", L"\\\\?\\C:\\long\\k", L"\\\\?\\C:\\long"},
        {L"d:/k", L"\\\\?\\d:\\k", L"\\\\?\\d:\\"},
    };
    for (const Row& row : rows) {
        RootKeySite site;
        ASSERT_TRUE(makeRootKeySite(row.given, site)) << narrow(row.given);
        EXPECT_EQ(row.given, site.plain);
        EXPECT_EQ(row.longPath, site.longPath);
        EXPECT_EQ(row.folder, site.folder);
    }
    for (const wchar_t* notWhole : {L"", L"ZIVORoot.key", L"relative\\ZIVO\\ZIVORoot.key", L"\\ZIVO\\k", L"C:k",
                                    L"C:\\", L"\\\\server\\share", L"\\\\server\\share\\", L"\\\\.\\pipe\\k",
                                    L"\\\\?\\pipe\\k", L"\\\\.\\C:\\k", L"\\\\\\share\\k"}) {
        RootKeySite site;
        EXPECT_FALSE(makeRootKeySite(notWhole, site)) << narrow(notWhole);
        EXPECT_FALSE(isWholeAbsolutePath(notWhole)) << narrow(notWhole);
    }
}

// Every copy is whole or absent: one that fails leaves nothing, and a name
// that is taken is never written.
TEST(RootKeyCopies, WholeOrAbsentAndTheStagedKeyCarriesNoReadOnlyMark)
{
    ScratchDir dir(L"copies");
    const std::wstring key = dir / L"chosen.key";
    ASSERT_TRUE(writeFile(key, "key bytes"));
    ASSERT_TRUE(SetFileAttributesW(key.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    KeyFileBytes chosen;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), readKeyFile(key, chosen));
    EXPECT_EQ("key bytes", chosen.bytes);
    const Opened folder = openFolder(dir.path(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(folder);

    std::wstring used;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), writeToFreeName(folder, L"staged", chosen.bytes, CopyKind::Staged, chosen.basic, used));
    EXPECT_EQ(L"staged", used);
    EXPECT_EQ("key bytes", readFile(dir / used));
    EXPECT_EQ(0u, GetFileAttributesW((dir / used).c_str()) & FILE_ATTRIBUTE_READONLY);
    // A backup keeps what a file copy keeps.
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), writeToFreeName(folder, L"backup", chosen.bytes, CopyKind::Backup, chosen.basic, used));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesW((dir / used).c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((dir / used).c_str(), FILE_ATTRIBUTE_NORMAL);

    // Taken names stay as they are; the next free one is used.
    ASSERT_TRUE(writeFile(dir / L"taken", "earlier"));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), writeToFreeName(folder, L"taken", chosen.bytes, CopyKind::Staged, chosen.basic, used));
    EXPECT_EQ(L"taken (2)", used);
    EXPECT_EQ("earlier", readFile(dir / L"taken"));
    SetFileAttributesW(key.c_str(), FILE_ATTRIBUTE_NORMAL);

    // The chosen file swapped for a live pipe, or grown past any key file,
    // after the check: refused at once with a true error.
    const wchar_t pipeName[] = L"\\\\.\\pipe\\kit-copy-source";
    HANDLE pipe = CreateNamedPipeW(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 512, 512, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    ASSERT_TRUE(writeFile(dir / L"large.key", std::string(1024 * 1024 + 1, 'k')));
    const std::pair<std::wstring, DWORD> refused[] = {{pipeName, ERROR_NOT_SUPPORTED},
                                                      {dir / L"large.key", ERROR_FILE_TOO_LARGE},
                                                      {dir / L"missing", ERROR_FILE_NOT_FOUND}};
    for (const auto& [source, error] : refused) {
        KeyFileBytes read;
        EXPECT_EQ(error, readKeyFile(source, read)) << narrow(source);
    }
    CloseHandle(pipe);
}

// A live pipe or a device passes for an existing path; the library would
// read it and wait for ever. Neither reaches the library. (Under Wine the
// dialog's existence check already refuses a pipe path, so this is shown
// here, on the check itself.)
TEST(KeyLibrary, PipesAndDevicesAreNoKeyFilesAndAreNotRead)
{
    const wchar_t pipeName[] = L"\\\\.\\pipe\\kit-key-check";
    HANDLE pipe = CreateNamedPipeW(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 512, 512, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    // Wine starts its device support on the first open of a device, which
    // takes seconds on a loaded machine (an open on Windows does not block):
    // done once before the checks are timed.
    CloseHandle(CreateFileW(L"\\\\.\\NUL", FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr));
    for (const wchar_t* path : {pipeName, L"\\\\.\\NUL", L"NUL"}) {
        // On a thread of its own: a check that reads would block for good,
        // so a deadline far above any slow open tells it.
        auto answered = std::make_shared<std::atomic<int>>(-1);
        std::thread([answered, path] { *answered = isUsableKeyFile(path) ? 1 : 0; }).detach();
        EXPECT_TRUE(waitUntil([&] { return *answered != -1; }, 60000)) << "the check blocked on " << narrow(path);
        EXPECT_EQ(0, answered->load()) << narrow(path);
    }
    CloseHandle(pipe);
}

namespace {

// Reparse data laid out as Microsoft documents REPARSE_DATA_BUFFER: the tag,
// the data length, then for mount points and symbolic links the offsets
// and lengths of the substitute and print names (a symbolic link adds its
// flags), then the names.
std::vector<BYTE> reparseData(ULONG tag, const std::wstring& substitute, bool symbolicLink = false)
{
    const std::size_t header = 8 + 8 + (symbolicLink ? 4 : 0);
    std::vector<BYTE> data(header + (substitute.size() + 1) * 2 * 2, 0);
    const USHORT nameBytes = static_cast<USHORT>(substitute.size() * 2);
    const auto put16 = [&](std::size_t at, USHORT v) { memcpy(&data[at], &v, 2); };
    memcpy(&data[0], &tag, 4);
    put16(4, static_cast<USHORT>(data.size() - 8));
    put16(8, 0);                                        // SubstituteNameOffset
    put16(10, nameBytes);                               // SubstituteNameLength
    put16(12, static_cast<USHORT>(nameBytes + 2));      // PrintNameOffset
    put16(14, nameBytes);                               // PrintNameLength
    memcpy(&data[header], substitute.data(), nameBytes);
    memcpy(&data[header + nameBytes + 2], substitute.data(), nameBytes);
    return data;
}

} // namespace

// Wine makes no mount points, junctions or object-manager links: the links
// a walk meets on Windows are judged here, from their reparse data and
// their security, as the walk reads them.
TEST(FileIdentity, ReparseDataIsClassifiedAsLaidOut)
{
    const std::wstring volume = L"\\??\\Volume{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}\\";
    struct Row {
        const char* what;
        std::vector<BYTE> data;
        ReparseKind kind;
    };
    const Row rows[] = {
        {"a volume mounted in a folder", reparseData(0xA0000003, volume), ReparseKind::VolumeMount},
        {"a junction to a folder of a volume", reparseData(0xA0000003, volume + L"Users"), ReparseKind::Link},
        {"a junction to a drive's folder", reparseData(0xA0000003, L"\\??\\C:\\Users\\bob"), ReparseKind::Link},
        {"a junction to a volume without its backslash", reparseData(0xA0000003, volume.substr(0, volume.size() - 1)),
         ReparseKind::Link},
        {"a symbolic link", reparseData(0xA000000C, volume, true), ReparseKind::Link},
        {"a deduplicated file", reparseData(0x80000013, L""), ReparseKind::NotALink},
        {"a cloud file", reparseData(0x9000001A, L""), ReparseKind::NotALink},
    };
    for (const Row& row : rows) EXPECT_EQ(row.kind, classifyReparseData(row.data.data(), row.data.size())) << row.what;
    std::vector<BYTE> cut = reparseData(0xA0000003, volume);
    cut.resize(20);
    EXPECT_EQ(ReparseKind::Link, classifyReparseData(cut.data(), cut.size())) << "data shorter than it says";
}

TEST(FileIdentity, OnlyLinksThatTheMachineAloneCanChangeArePassed)
{
    struct Row {
        const wchar_t* sddl;
        bool holdingFolder;
        bool machineOnly;
    };
    const Row rows[] = {
        // Users may read and traverse; only SYSTEM, Administrators and TrustedInstaller change.
        {L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", false, true},
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(A;;0x1200a9;;;WD)", false, true},
        // Owned by a user, or writable by one.
        {L"O:BUD:(A;;FA;;;SY)(A;;FA;;;BA)", false, false},
        {L"O:BAD:(A;;FA;;;SY)(A;;0x1301bf;;;AU)", false, false},
        {L"O:BAD:(A;;0x10000;;;BU)", false, false}, // DELETE
        // No access list grants everyone everything.
        {L"O:BA", false, false},
        // A folder where users may add entries (C:\ lets them make folders)
        // but delete none: nobody replaces the link in it.
        {L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200af;;;AU)", true, true},
        {L"O:SYD:(A;;FA;;;SY)(A;;0x40;;;BU)", true, false},
        // What passes only to children (CREATOR OWNER's full control) is not the folder's own.
        {L"O:SYD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)", true, true},
    };
    for (const Row& row : rows) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl, SDDL_REVISION_1, &descriptor, nullptr))
            << narrow(row.sddl);
        EXPECT_EQ(row.machineOnly, isMachineOnly(descriptor, row.holdingFolder)) << narrow(row.sddl);
        LocalFree(descriptor);
    }
}

// The replacement ended at random moments, a hundred times, as a crash or a
// power cut would end it (a worker that imports two keys in turn through
// the import's own code, killed from here): after each kill a whole key,
// one or the other, is at the root key's name, and the next run goes on.
TEST(RootKeyCopies, AKillAtAnyMomentLeavesAWholeKeyAtTheRootKeysName)
{
    ScratchDir dir(L"killed");
    const auto keyBytesFor = [](std::uint8_t seed) {
        const auto file = keyfile::encode(std::vector<std::uint8_t>(32, seed), 0);
        return std::string(file.begin(), file.end());
    };
    const std::string keys[2] = {keyBytesFor(1), keyBytesFor(2)};
    ASSERT_TRUE(writeFile(dir / L"a.key", keys[0]));
    ASSERT_TRUE(writeFile(dir / L"b.key", keys[1]));
    ASSERT_TRUE(writeFile(dir / L"ZIVORoot.key", keys[0]));
    std::minstd_rand random(GetTickCount());
    int midway = 0;
    for (int kill = 0; kill < 100; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const std::wstring eventName = L"kit-key-worker-" + std::to_wstring(GetCurrentProcessId());
        HANDLE running = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
        Process worker = start(quote(selfDir() + L"KeyInstallWorker.exe") + L" " + quote(dir / L"ZIVORoot.key") + L" " +
                               quote(dir / L"a.key") + L" " + quote(dir / L"b.key") + L" " + eventName);
        ASSERT_NE(nullptr, worker.process);
        const bool ran = WaitForSingleObject(running, 30000) == WAIT_OBJECT_0;
        CloseHandle(running);
        ASSERT_TRUE(ran) << "the worker did not start";
        Sleep(random() % 20); // the moment of the kill
        if (worker.running()) ++midway;
        TerminateProcess(worker.process, 9);
        EXPECT_EQ(9, worker.wait(15000)) << "the worker stopped by itself";
        const std::string root = readFile(dir / L"ZIVORoot.key");
        ASSERT_TRUE(root == keys[0] || root == keys[1]) << "no whole key at the root key's name";
    }
    EXPECT_EQ(100, midway);
}

// The one rule of the kit's programs, over the layouts Wine can make: each
// row a layout or a link, each column a way the programs open through the
// layer (a folder, as Sweepup and the log hold theirs; a file checked by
// reopening, as the log, the import lock and the root key are; a file in a
// held folder, as Sweepup deletes). Runs after with-layouts.sh laid them out.
#include <gtest/gtest.h>

#include "FileIdentity.h"
#include "PathForms.h"
#include "KitTest.h"

using namespace kittest;

namespace {

const std::wstring kTop = L"C:\\kit-layouts";

enum class Expect { Opens, Refused, Missing };

const char* nameOf(Refusal refusal)
{
    switch (refusal) {
    case Refusal::None: return "opens";
    case Refusal::Missing: return "missing";
    case Refusal::Link: return "a link";
    case Refusal::LinkInPath: return "a link in its path";
    case Refusal::NotFolder: return "not a folder";
    case Refusal::NotFile: return "not a file";
    default: return "failed";
    }
}

bool matches(Expect expect, const Opened& opened)
{
    switch (expect) {
    case Expect::Opens: return static_cast<bool>(opened);
    case Expect::Missing: return opened.refusal == Refusal::Missing;
    default: return opened.refusal == Refusal::Link || opened.refusal == Refusal::LinkInPath;
    }
}

std::wstring shortForm(const std::wstring& path)
{
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD chars = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    return chars > 0 && chars < MAX_PATH ? shortPath : path;
}

} // namespace

TEST(FileIdentityLayouts, EveryOpenerTellsTheMachinesLayoutsFromLinks)
{
    ASSERT_TRUE(isDirectory(kTop + L"\\real")) << "with-layouts.sh has not run";
    const bool mounted = exists(kTop + L"\\mnt\\file.txt");
    struct Row {
        const char* layout;
        std::wstring file;
        Expect folder, reopened, held;
        DWORD links;
    };
    const Row rows[] = {
        {"a plain path", kTop + L"\\real\\file.txt", Expect::Opens, Expect::Opens, Expect::Opens, 1},
        {"a second drive letter, as a substituted drive", L"Q:\\file.txt", Expect::Opens, Expect::Opens, Expect::Opens, 1},
        {"the first letter while a second names the folder", kTop + L"\\real\\file.txt", Expect::Opens, Expect::Opens,
         Expect::Opens, 1},
        {"another letter case", L"c:\\KIT-LAYOUTS\\REAL\\FILE.TXT", Expect::Opens, Expect::Opens, Expect::Opens, 1},
        {"8.3 names", shortForm(kTop + L"\\averylongfoldername") + L"\\file.txt", Expect::Opens, Expect::Opens,
         Expect::Opens, 1},
        {"a volume mounted in a folder", kTop + L"\\mnt\\file.txt", Expect::Opens, Expect::Opens, Expect::Opens, 1},
        {"a folder that is a link", kTop + L"\\dirlink\\file.txt", Expect::Refused, Expect::Refused, Expect::Refused, 0},
        {"a link to a file beside it", kTop + L"\\real\\filelink", Expect::Opens, Expect::Refused, Expect::Refused, 0},
        {"a link to a file elsewhere", kTop + L"\\real\\outlink", Expect::Opens, Expect::Refused, Expect::Refused, 0},
        {"a link to nothing", kTop + L"\\real\\dangling", Expect::Opens, Expect::Missing, Expect::Missing, 0},
        {"a hard link", kTop + L"\\real\\hard", Expect::Opens, Expect::Opens, Expect::Opens, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.layout) + ": " + narrow(row.file));
        if (std::string(row.layout) == "a volume mounted in a folder" && !mounted) continue; // mounting needs root
        std::wstring folderPath, name;
        ASSERT_TRUE(splitLastName(row.file, folderPath, name));
        const Opened folder = openFolder(folderPath, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_TRUE(matches(row.folder, folder)) << "folder: " << nameOf(folder.refusal);
        EntryRequest request;
        const Opened reopened = openFileAt(row.file, request);
        EXPECT_TRUE(matches(row.reopened, reopened)) << "file, reopened: " << nameOf(reopened.refusal);
        if (reopened && row.links) {
            EXPECT_EQ(row.links, reopened.links);
        }
        if (folder) {
            request.check = EntryCheck::InHeldFolder;
            const Opened held = openEntry(folder, name, request);
            EXPECT_TRUE(matches(row.held, held)) << "file in a held folder: " << nameOf(held.refusal);
        }
    }
    // Nothing is ever created through a link to nothing.
    const Opened folder = openFolder(kTop + L"\\real", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(folder);
    EntryRequest create;
    create.access = GENERIC_WRITE;
    create.disposition = FILE_CREATE;
    EXPECT_FALSE(openEntry(folder, L"dangling", create));
    EXPECT_FALSE(exists(kTop + L"\\other\\nothing.txt"));
    // A folder created through the layer on the way is a folder of its own.
    EXPECT_TRUE(openFolder(kTop + L"\\real\\made\\deeper", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, true));
    EXPECT_TRUE(isDirectory(kTop + L"\\real\\made\\deeper"));
    EXPECT_FALSE(openFolder(kTop + L"\\dirlink\\made", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, true));
    EXPECT_FALSE(exists(kTop + L"\\real\\made\\..\\made2"));
}

// The walk core on real trees in a temporary folder.
#include "CodePage.h"
#include "DirWalk.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

namespace {

class TempTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velmora_walk_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, ec);
        fs::remove_all(root, ec);
    }
    void File(const std::string& rel)
    {
        fs::create_directories(fs::path(root + "/" + rel).parent_path());
        std::ofstream(root + "/" + rel) << "x";
    }
    void Folder(const std::string& rel) { fs::create_directories(root + "/" + rel); }
    std::string P(const std::string& rel) const { return root + "/" + rel; }

    std::string root;
};

std::string ErrorOf(void (*fn)(const std::string&), const std::string& arg)
{
    try {
        fn(arg);
    } catch (const dirwalk::PathError& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST_F(TempTree, WalkIsDepthFirstParentsBeforeChildrenInCaseInsensitiveOrder)
{
    File("r1");
    File("A/a1");
    File("A/X/x1");
    File("b/b1");
    Folder("C");
    File(".hidden");
    File("A/.h2");

    EXPECT_EQ(dirwalk::SubFolderWalk(root), (Paths{P("A"), P("A/X"), P("b"), P("C")}));
    EXPECT_EQ(dirwalk::AllFiles(root),
              (Paths{P(".hidden"), P("r1"), P("A/.h2"), P("A/a1"), P("A/X/x1"), P("b/b1")}));
    EXPECT_EQ(dirwalk::FilesOf(root), (Paths{P(".hidden"), P("r1")}));
}

TEST_F(TempTree, ExactOrderBreaksTiesBetweenNamesThatDifferInCaseOnly)
{
    File("b");
    File("B");
    File("a");
    File("C");
    EXPECT_EQ(dirwalk::FilesOf(root), (Paths{P("a"), P("B"), P("b"), P("C")}));
}

// Case folds by Unicode simple uppercase, not ASCII alone, so full-width and
// accented letters fall where NTFS puts them (this order numbers renames).
TEST_F(TempTree, CaseFoldsBeyondAscii)
{
    // Ａ6 ａ5 É2 é1 z Α α
    const std::string fullA = "\xEF\xBC\xA1", fulla = "\xEF\xBD\x81", E = "\xC3\x89", e = "\xC3\xA9";
    const std::string alpha = "\xCE\xB1", Alpha = "\xCE\x91";
    for (const std::string& name : {fullA + "6", fulla + "5", E + "2", e + "1", std::string("z"), alpha, Alpha})
        File(name);
    EXPECT_EQ(dirwalk::FilesOf(root),
              (Paths{P("z"), P(e + "1"), P(E + "2"), P(Alpha), P(alpha), P(fulla + "5"), P(fullA + "6")}));
}

TEST_F(TempTree, TrailingSlashGivesTheSameEntryPaths)
{
    File("f");
    Folder("s");
    EXPECT_EQ(dirwalk::FilesOf(root + "/"), (Paths{P("f")}));
    EXPECT_EQ(dirwalk::SubFolderWalk(root + "/"), (Paths{P("s")}));
    EXPECT_EQ(dirwalk::Join("/", "x"), "/x");
}

// A link to a folder is neither a folder nor a file entry: no walk leaves the
// tree, reaches a file twice or grows past the real tree (a chain of folders
// each holding two links to the next would double per level).
TEST_F(TempTree, FolderLinksAreNeverEntered)
{
    File("A/B/f");
    fs::create_directory_symlink(root + "/A", root + "/A/B/up");
    fs::create_directory_symlink(root + "/A/B", root + "/elsewhere");
    File("linked_file_target");
    fs::create_symlink(root + "/linked_file_target", root + "/A/filelink");
    fs::create_directory_symlink("/", root + "/A/top");
    EXPECT_EQ(dirwalk::SubFolderWalk(root), (Paths{P("A"), P("A/B")}));
    EXPECT_EQ(dirwalk::FilesOf(P("A")), (Paths{P("A/filelink")}));
    EXPECT_EQ(dirwalk::AllFiles(root), (Paths{P("linked_file_target"), P("A/filelink"), P("A/B/f")}));
    // The named folder itself may be a link.
    EXPECT_EQ(dirwalk::AllFiles(P("elsewhere")), (Paths{P("elsewhere/f")}));

    constexpr int kLevels = 16;
    for (int i = 0; i < kLevels; ++i) {
        const std::string level = "dag/L" + std::to_string(100 + i);
        File(level + "/f");
        if (i + 1 < kLevels)
            for (const char* link : {"/x", "/y"})
                fs::create_directory_symlink(root + "/dag/L" + std::to_string(101 + i), P(level) + link);
    }
    EXPECT_EQ(dirwalk::AllFiles(P("dag")).size(), std::size_t{kLevels});
    EXPECT_EQ(dirwalk::SubFolderWalk(P("dag")).size(), std::size_t{kLevels});
}

// Only folders are read, never a file's contents, and links are not entered,
// so /proc, with its endless-looking links, is a finite walk.
TEST(Walk, ProcIsAFiniteWalk)
{
    const auto folders = dirwalk::SubFolderWalk("/proc/self");
    EXPECT_FALSE(folders.empty());
    for (const std::string& f : folders)
        ASSERT_EQ(f.find("/proc/self/cwd"), std::string::npos);
}

TEST_F(TempTree, FolderThatCannotBeReadIsListedAndSkipped_AsUnprivilegedChild)
{
    File("open/f1");
    File("closed/secret");
    File("top");
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(P("open"), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(P("closed"), fs::perms::owner_all);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(3);
        std::string out;
        try {
            for (const auto& p : dirwalk::SubFolderWalk(root))
                out += p + "\n";
            out += "--\n";
            for (const auto& p : dirwalk::AllFiles(root))
                out += p + "\n";
            out += "--\n";
            out += std::to_string(dirwalk::FilesOf(P("closed")).size());
        } catch (const std::exception& e) {
            out = std::string("failed: ") + e.what();
        }
        (void)!write(fds[1], out.data(), out.size());
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "could not drop privileges";
    EXPECT_EQ(out, P("closed") + "\n" + P("open") + "\n--\n" + P("top") + "\n" + P("open/f1") + "\n--\n0");
}

TEST_F(TempTree, BadFolderTextsFailWithTheirMessages)
{
    File("plainfile");
    const auto walk = [](const std::string& f) { dirwalk::SubFolderWalk(f); };
    const auto files = [](const std::string& f) { dirwalk::FilesOf(f); };
    for (auto fn : {+walk, +files}) {
        EXPECT_STREQ(ErrorOf(fn, P("missing")).c_str(), dirwalk::kNotFound);
        EXPECT_STREQ(ErrorOf(fn, P("plainfile")).c_str(), dirwalk::kNotFound);
        EXPECT_STREQ(ErrorOf(fn, "   ").c_str(), dirwalk::kInvalidChars);
        EXPECT_STREQ(ErrorOf(fn, std::string("a\0b", 3)).c_str(), dirwalk::kInvalidChars);
        EXPECT_STREQ(ErrorOf(fn, "/tmp/" + std::string(256, 'x')).c_str(), dirwalk::kTooLong);
        EXPECT_STREQ(ErrorOf(fn, std::string(4096, '/')).c_str(), dirwalk::kTooLong);
    }
}

TEST_F(TempTree, AllFilesRejectsABadFolderBeforeAddingAnything)
{
    EXPECT_THROW(dirwalk::AllFiles(P("nothing here")), dirwalk::PathError);
}

TEST(CodePage, LocaleDecidesTheAnsiCodePage)
{
    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    const std::pair<const char*, int> cases[] = {{"zh_CN.UTF-8", 936}, {"zh_SG", 936}, {"zh_TW.UTF-8", 950},
                                                 {"zh_HK", 950}, {"ja_JP.UTF-8", 932}, {"ko_KR", 949},
                                                 {"en_US.UTF-8", 1252}, {"C", 936},
                                                 {"POSIX", 936}, {"C.UTF-8", 936}};
    for (const auto& [locale, cp] : cases) {
        setenv("LC_ALL", locale, 1);
        EXPECT_EQ(codepage::AnsiCodePage(), cp) << locale;
    }
    if (saved)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST(CodePage, ConvertsBothWaysAndMarksWhatCannotBeExpressed)
{
    // 中文 in GBK is D6 D0 CE C4.
    EXPECT_EQ(codepage::Utf8ToAnsi("中文", 936), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(codepage::AnsiToUtf8("\xD6\xD0\xCE\xC4", 936), "中文");
    EXPECT_EQ(codepage::Utf8ToAnsi("a中b", 1252), "a?b");
    EXPECT_EQ(codepage::Utf8ToAnsi("caf\xC3\xA9", 1252), "caf\xE9");
    // A GBK trail byte may be 0x5C ("\"): it stays part of its character.
    EXPECT_EQ(codepage::AnsiToUtf8("\x95\x5C", 936), "昞");
    EXPECT_TRUE(codepage::IsValidUtf8("中文 plain"));
    EXPECT_FALSE(codepage::IsValidUtf8("\xD6\xD0"));
    EXPECT_FALSE(codepage::IsValidUtf8("\xED\xA0\x80"));  // a surrogate
}

// Every byte string survives the trip to text and back, and two names never
// share a text; for people, a stray byte reads as U+FFFD.
TEST(FileNames, BytesToTextAndBackAreLossless)
{
    const struct {
        std::string bytes;
        std::u16string text;
        std::string readable;
    } cases[] = {
        {"plain", u"plain", "plain"},
        {"\xD6\xD0\xCE\xC4", u"\xDCD6\xDCD0\xDCCE\xDCC4", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // GBK 中文
        {"a\xFF\xEF\xBF\xBD", u"a\xDCFF\xFFFD", "a\xEF\xBF\xBD\xEF\xBF\xBD"},  // a stray byte beside a real U+FFFD
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},   // an encoded surrogate
        {"\xC0\xAF\xE2\x82", u"\xDCC0\xDCAF\xDCE2\xDC82", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong, cut short
        {"\xF0\x9F\x98\x80\xE4\xB8\xAD", u"\U0001F600\x4E2D", "\xF0\x9F\x98\x80\xE4\xB8\xAD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codepage::EscapedUtf16(c.bytes), c.text);
        std::string back;
        EXPECT_TRUE(codepage::UnescapedBytes(c.text, back));
        EXPECT_EQ(back, c.bytes);
        EXPECT_EQ(codepage::ReadableUtf8(c.bytes), c.readable);
    }
    std::string out;
    EXPECT_FALSE(codepage::UnescapedBytes(u"\xD800x", out));  // a lone surrogate no byte makes
    EXPECT_FALSE(codepage::UnescapedBytes(u"\xDC41", out));
}

TEST_F(TempTree, ACancelledWalkEndsEarlyWithWhatItHas)
{
    for (const char* f : {"a/x", "b/x", "c/x", "d/x"})
        Folder(f);
    int visits = 0;
    const Paths walk = dirwalk::SubFolderWalk(root, [&] { return ++visits > 2; });
    // The top folder and "a" were read; nothing after the request.
    EXPECT_EQ(walk, (Paths{P("a"), P("a/x"), P("b"), P("c"), P("d")}));
    EXPECT_EQ(dirwalk::SubFolderWalk(root, [] { return true; }), Paths{});
}

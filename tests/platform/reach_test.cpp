// The one way into a named folder: what each kind of path below it opens to,
// by openat2 and by the part-by-part walk that stands in for it on older kernels.

#include "Reach.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A named folder "top" beside a private folder "outside" holding a secret.
class ReachTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/reach-XXXXXX";
        base_ = ::mkdtemp(pattern);
        top_ = base_ + "/top";
        fs::create_directories(top_ + "/sub");
        fs::create_directories(base_ + "/outside");
        Write(top_ + "/a.txt", "plain");
        Write(top_ + "/sub/b.txt", "inside");
        Write(base_ + "/outside/secret", "secret");
        reach::UseComponentWalk(GetParam());
    }
    void TearDown() override
    {
        reach::UseComponentWalk(false);
        fs::remove_all(base_);
    }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string ReadFd(int fd)
    {
        char buf[64];
        const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }

    std::string base_, top_;
};

INSTANTIATE_TEST_SUITE_P(Ways, ReachTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ComponentWalk" : "Openat2"; });

TEST_P(ReachTest, EachKindOfEntryOpensOrIsRefusedForItsReason)
{
    fs::create_symlink("sub/b.txt", top_ + "/in");
    fs::create_symlink("../outside/secret", top_ + "/up");
    fs::create_symlink(base_ + "/outside/secret", top_ + "/abs");
    fs::create_symlink(top_ + "/a.txt", top_ + "/absInside");
    fs::create_symlink(top_ + "/sub", top_ + "/absDir");
    fs::create_symlink(top_ + "/../outside/secret", top_ + "/absUp");
    fs::create_symlink(top_ + "x/a.txt", top_ + "/absBeside");
    fs::create_symlink("nowhere", top_ + "/dead");
    fs::create_symlink("/proc/self/root" + base_ + "/outside/secret", top_ + "/magic");
    fs::create_symlink("loop", top_ + "/loop");
    fs::create_symlink("../outside", top_ + "/swapped");
    ASSERT_EQ(::mkfifo((top_ + "/fifo").c_str(), 0600), 0);

    enum Expect { Opens, Outside, Dangling, Special, Fails };
    const struct {
        const char* rel;
        Expect expect;
        const char* content;
    } cases[] = {
        {"a.txt", Opens, "plain"},
        {"in", Opens, "inside"},
        {"sub/../a.txt", Opens, "plain"},
        {"up", Outside, ""},
        {"abs", Outside, ""},
        // An absolute target counts as what it names when that lies inside.
        {"absInside", Opens, "plain"},
        {"absDir/b.txt", Opens, "inside"},
        {"absUp", Outside, ""},
        {"absBeside", Outside, ""},
        {"magic", Outside, ""},
        {"swapped/secret", Outside, ""},
        {"../outside/secret", Outside, ""},
        {"dead", Dangling, ""},
        {"loop", Dangling, ""},
        {"fifo", Special, ""},
        {"sub", Fails, ""},
        {"gone", Fails, ""},
    };
    const reach::Root root(top_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel);
        std::optional<reach::Skip> skipped;
        bool failed = false;
        std::string content;
        try {
            struct stat st {};
            const safefile::Fd fd = root.OpenFile(top_ + "/" + c.rel, &st);
            content = ReadFd(fd.Get());
            EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), content.size());
        } catch (const reach::Refused& r) {
            skipped = r.Why();
        } catch (const safefile::Error&) {
            failed = true;
        }
        switch (c.expect) {
        case Opens: EXPECT_EQ(content, c.content); break;
        case Outside: EXPECT_EQ(skipped, reach::Skip::OutsideLink); break;
        case Dangling: EXPECT_EQ(skipped, reach::Skip::DanglingLink); break;
        case Special: EXPECT_EQ(skipped, reach::Skip::Special); break;
        case Fails: EXPECT_TRUE(failed && !skipped); break;
        }
    }
}

TEST_P(ReachTest, FoldersAreReachedOnlyBelowTheRoot)
{
    const reach::Root root(top_);
    EXPECT_EQ(root.Below(top_), "");
    EXPECT_EQ(root.Below(top_ + "/sub/b.txt"), "sub/b.txt");
    EXPECT_THROW(root.Below(top_ + "x/b.txt"), safefile::Error);
    EXPECT_TRUE(root.OpenFolder(top_ + "/sub/").Valid());
    fs::create_symlink("../outside", top_ + "/link");
    try {
        root.OpenFolder(top_ + "/link");
        ADD_FAILURE() << "a folder outside was opened";
    } catch (const safefile::Error& e) {
        EXPECT_EQ(e.Code(), EXDEV);
    }
    // Files named one by one are opened as named, a link followed.
    fs::create_symlink(base_ + "/outside/secret", top_ + "/named");
    struct stat st {};
    EXPECT_EQ(ReadFd(reach::Root().OpenFile(top_ + "/named", &st).Get()), "secret");
}

TEST_P(ReachTest, RenamesNeverReplaceAFile)
{
    const safefile::Folder dir = safefile::Folder::Open(top_);
    Write(top_ + "/taken", "taken");
    for (const auto rename : {reach::RenameNoReplace, reach::RenameByLink}) {
        EXPECT_EQ(rename(dir.Get(), "a.txt", "taken"), EEXIST);
        EXPECT_EQ(rename(dir.Get(), "a.txt", "b.txt"), 0);
        EXPECT_EQ(rename(dir.Get(), "b.txt", "a.txt"), 0);
    }
    std::ifstream taken(top_ + "/taken"), a(top_ + "/a.txt");
    std::string t, s;
    taken >> t;
    a >> s;
    EXPECT_EQ(t + s, "takenplain");
}

}  // namespace

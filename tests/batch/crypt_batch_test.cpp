// Where the targets of a tree batch land, emptying the log and the box that
// names files without a target.
#include "CryptBatch.h"
#include "TestUtil.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cryptbatch;

TEST(CryptTargetPath, TreeReplacesTheFirstOccurrenceOfTheFolderTextOnly)
{
    struct Case {
        const char* folderText;
        const char* targetFolder;
        const char* source;
        const char* expected;
    };
    const Case cases[] = {
        {"/home/u/photos", "/tmp/enc", "/home/u/photos/a.jpg", "/tmp/enc/a.jpg"},
        {"/home/u/photos", "/tmp/enc", "/home/u/photos/x/photos/b.jpg", "/tmp/enc/x/photos/b.jpg"},
        // A folder text with its separator must not glue the target folder to the name.
        {"/home/u/photos/", "/tmp/enc", "/home/u/photos/a.jpg", "/tmp/enc/a.jpg"},
        {"/home/u/photos/", "/tmp/enc", "/home/u/photos/sub/a.jpg", "/tmp/enc/sub/a.jpg"},
        {"/home/u/photos/", "/", "/home/u/photos/a.jpg", "/a.jpg"},
        {"/home/u/photos", "/", "/home/u/photos/a.jpg", "//a.jpg"},
        // Case-sensitive: a differently cased text is no match.
        {"/home/U/photos", "/tmp/enc", "/home/u/photos/a.jpg", "/home/u/photos/a.jpg"},
        {"rel", "out", "rel/中文/文件.txt", "out/中文/文件.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TreeTargetPath(QString::fromUtf8(c.folderText), QString::fromUtf8(c.targetFolder),
                                 QString::fromUtf8(c.source)),
                  QString::fromUtf8(c.expected))
            << c.folderText << " | " << c.source;
}

// An earlier log is kept until the batch has its files (a listing that
// fails leaves it as it was), then replaced; each path stays on its line.
TEST(CryptLog, BeginReplacesAnEarlierLogOnlyThenAndAFolderInItsPlaceFails)
{
    QTemporaryDir dir;
    const QByteArray old = "old contents that must go";
    testutil::WriteFile(dir.path() + "/note.txt", old);
    {
        OperationLog log(TargetTree(dir.path()).Root());
        EXPECT_EQ(testutil::ReadFile(dir.path() + "/note.txt"), old);
        log.Begin();
        log.Write(Direction::Encrypt, "s", "t");
        log.Write(Direction::Encrypt, "a\r\n源文件:forged\tb", "t\x01");
    }
    EXPECT_EQ(testutil::ReadFile(dir.path() + "/note.txt"),
              QStringLiteral("源文件:s,加密文件:t\r\n源文件:a\uFFFD\uFFFD源文件:forged\uFFFDb,加密文件:t\uFFFD\r\n").toUtf8());

    QTemporaryDir other;
    QDir(other.path()).mkdir("note.txt");
    OperationLog log(TargetTree(other.path()).Root());
    EXPECT_THROW(log.Begin(), std::runtime_error);
}

TEST(CryptMissingTargets, NamesTwentyFilesWithReasonsThenTheCountAndAllInTheDetails)
{
    for (const int count : {20, 21, 300}) {
        std::vector<MissingTarget> missing;
        for (int i = 0; i < count; ++i)
            missing.push_back({QStringLiteral("/s/f%1").arg(i), QStringLiteral("原因%1").arg(i)});
        const ListedBox box = MissingTargetsBox(missing);
        const QStringList lines = box.text.split('\n');
        EXPECT_EQ(lines[0], QStringLiteral("有%1个文件没有生成目标文件：").arg(count));
        EXPECT_EQ(lines[1], QStringLiteral("/s/f0（原因：原因0）"));
        EXPECT_TRUE(lines[20].startsWith("/s/f19（"));
        if (count == 20) {
            EXPECT_EQ(lines.size(), 21);  // all named, no count line and no details
            EXPECT_TRUE(box.details.isEmpty());
            continue;
        }
        ASSERT_EQ(lines.size(), 22) << count;
        EXPECT_EQ(lines[21], QStringLiteral("……另有 %1 个").arg(count - 20));
        const QStringList details = box.details.split('\n');
        ASSERT_EQ(details.size(), count);
        EXPECT_EQ(details.back(), QStringLiteral("/s/f%1（原因：原因%1）").arg(count - 1));
    }
}

// Renaming one file: never onto an existing name, by either way the rename can go.
#include "ErrnoText.h"
#include "FileRename.h"
#include "TestUtil.h"

#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

using testutil::Exists;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

QString ErrorText(int e) { return QString::fromStdString(platform::ErrnoText(e)); }

using RenameFn = std::optional<QString> (*)(const QString&, const QString&);

class BothWays : public ::testing::TestWithParam<RenameFn> {
protected:
    QTemporaryDir dir;
    QString P(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
};

TEST_P(BothWays, MovesTheFileUnderItsNewName)
{
    WriteFile(P("a.txt"), "alpha");
    EXPECT_EQ(GetParam()(P("a.txt"), P("新名.txt")), std::nullopt);
    EXPECT_FALSE(Exists(P("a.txt")));
    EXPECT_EQ(ReadFile(P("新名.txt")), "alpha");
}

// The file system would gladly replace b.txt with a plain rename().
TEST_P(BothWays, NeverReplacesAnExistingName)
{
    WriteFile(P("a.txt"), "alpha");
    WriteFile(P("b.txt"), "bravo");
    EXPECT_EQ(GetParam()(P("a.txt"), P("b.txt")), ErrorText(EEXIST));
    EXPECT_EQ(ReadFile(P("a.txt")), "alpha");
    EXPECT_EQ(ReadFile(P("b.txt")), "bravo");
}

TEST_P(BothWays, ReportsTheSystemsTextForAGoneFile)
{
    EXPECT_EQ(GetParam()(P("missing"), P("other")), ErrorText(ENOENT));
}

TEST_P(BothWays, ReportsATargetWhoseParentIsARegularFile)
{
    WriteFile(P("a.txt"), "alpha");
    WriteFile(P("plain"), "x");
    EXPECT_EQ(GetParam()(P("a.txt"), P("plain/a.txt")), ErrorText(ENOTDIR));
    EXPECT_EQ(ReadFile(P("a.txt")), "alpha");
}

TEST_P(BothWays, LeavesAFileAloneWhenTheNameDoesNotChange)
{
    WriteFile(P("same.txt"), "s");
    EXPECT_EQ(GetParam()(P("same.txt"), P("same.txt")), std::nullopt);
    EXPECT_EQ(ReadFile(P("same.txt")), "s");
}

INSTANTIATE_TEST_SUITE_P(Rename, BothWays, ::testing::Values(static_cast<RenameFn>(&RenameNoReplace), &RenameByLink),
                         [](const auto& info) { return info.index == 0 ? "NoReplaceFlag" : "LinkThenUnlink"; });

}  // namespace

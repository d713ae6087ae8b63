// The rename batch as data: the check that refuses a batch before anything
// moves, the journal of what a batch renamed, and the undo of it.
#include "ErrnoText.h"
#include "RenameJournal.h"
#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

using testutil::ReadFile;
using testutil::RelativeFiles;
using testutil::WriteFile;

namespace {

QString ErrorText(int e) { return QString::fromStdString(platform::ErrnoText(e)); }

class RenameUnit : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString journal = dir.filePath("state/velmora/rename-journal");

    QString base = dir.path();  // where P() puts files; a case of a table may move it
    QString P(const QString& rel) const { return base + "/" + rel; }
    // Each file holds its own name, so a move shows in the bytes.
    void Files(const QStringList& rels)
    {
        for (const QString& rel : rels)
            WriteFile(P(rel), rel.toUtf8());
    }
    using Steps = std::vector<std::pair<QString, QString>>;
    RenamePlan Plan(const Steps& steps) const
    {
        RenamePlan plan;
        for (const auto& [from, to] : steps)
            plan.push_back({P(from), P(to)});
        return plan;
    }
};

// Each case: files on disk, the plan, and which step the check refuses with which error.
TEST_F(RenameUnit, TheCheckReplaysTheBatchInOrder)
{
    struct Case {
        const char* what;
        QStringList files;
        Steps steps;
        int faultyStep;  // -1: sound
        int error;
    };
    const Case cases[] = {
        {"two new names alike", {"a.txt", "b.txt"}, {{"a.txt", "n.txt"}, {"b.txt", "n.txt"}}, 1, EEXIST},
        {"a name outside the batch", {"a.txt", "keep.txt"}, {{"a.txt", "keep.txt"}}, 0, EEXIST},
        {"a name the batch frees only later", {"1.txt", "2.txt"}, {{"1.txt", "2.txt"}, {"2.txt", "3.txt"}}, 0,
         EEXIST},
        {"a name freed earlier", {"1.txt", "2.txt"}, {{"2.txt", "3.txt"}, {"1.txt", "2.txt"}}, -1, 0},
        {"a file gone", {"a.txt"}, {{"a.txt", "b.txt"}, {"gone.txt", "c.txt"}}, 1, ENOENT},
        {"a file renamed twice", {"a.txt"}, {{"a.txt", "b.txt"}, {"a.txt", "c.txt"}}, 1, ENOENT},
        {"a name kept", {"a.txt", "b.txt"}, {{"a.txt", "a.txt"}, {"b.txt", "c.txt"}}, -1, 0},
        {"a dangling link takes its name", {"a.txt"}, {{"a.txt", "link"}}, 0, EEXIST},
        {"a name too long", {"a.txt"}, {{"a.txt", QString(256, 'x')}}, 0, ENAMETOOLONG},
    };
    int n = 0;
    for (const Case& c : cases) {
        base = dir.filePath(QString::number(++n));
        Files(c.files);
        ASSERT_EQ(::symlink("nowhere", QFile::encodeName(P("link")).constData()), 0);
        const RenamePlan plan = Plan(c.steps);
        const auto fault = CheckRenamePlan(plan);
        if (c.faultyStep < 0) {
            EXPECT_EQ(fault, std::nullopt) << c.what;
            continue;
        }
        ASSERT_TRUE(fault) << c.what;
        EXPECT_EQ(fault->index, std::size_t(c.faultyStep)) << c.what;
        EXPECT_EQ(fault->reason, ErrorText(c.error)) << c.what;
        EXPECT_EQ(PlanFailure(plan), RenameFailureMessage(plan[c.faultyStep].oldPath, ErrorText(c.error))) << c.what;
    }
}

// Stopped halfway, or ended by a file that vanished after the check: what was
// renamed is journalled all the same; a batch that renamed nothing keeps the old journal.
// (A batch the check refuses renames nothing: the window tests show it.)
TEST_F(RenameUnit, TheJournalHoldsWhatWasRenamedHoweverTheBatchEnds)
{
    Files({"a", "b", "c", "kept"});
    const RenamePlan plan = Plan({{"a", "a1"}, {"kept", "kept"}, {"b", "b1"}, {"c", "c1"}});
    RunRenamePlan(plan, dir.path(), [](int i) { return i < 2; }, journal);
    EXPECT_EQ(LoadRenameJournal(journal)->folder, dir.path());
    EXPECT_EQ(LoadRenameJournal(journal)->renames, Plan({{"a", "a1"}, {"b", "b1"}}));  // a kept name is no rename

    const auto vanish = [&](int i) {
        if (i == 0)
            QFile::remove(P("c"));
        return true;
    };
    EXPECT_THROW(RunRenamePlan(Plan({{"a1", "a2"}, {"c", "c2"}}), dir.path(), vanish, journal), std::runtime_error);
    EXPECT_EQ(LoadRenameJournal(journal)->renames, Plan({{"a1", "a2"}}));

    RunRenamePlan(Plan({{"a2", "a2"}}), dir.path(), {}, journal);
    EXPECT_EQ(LoadRenameJournal(journal)->renames, Plan({{"a1", "a2"}}));
}

// Names with spaces, line breaks and bytes that are not UTF-8 come back exactly.
TEST_F(RenameUnit, TheJournalKeepsAnyNameAndIsReplacedWhole)
{
    const QString odd = QFile::decodeName(QByteArray("gbk-\xc4\xe3\xba\xc3 x\ny.txt"));
    RenameJournalContents contents{P("文件夹 one"), {{P("a b"), P(odd)}, {P("%20"), P("新 名")}}};
    SaveRenameJournal(contents, journal);
    const auto back = LoadRenameJournal(journal);
    ASSERT_TRUE(back);
    EXPECT_TRUE(HasRenameJournal(journal));
    EXPECT_EQ(back->folder, contents.folder);
    EXPECT_EQ(back->renames, contents.renames);
    EXPECT_EQ(QDir(dir.filePath("state/velmora")).entryList(QDir::Files), QStringList{"rename-journal"});
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("state/velmora")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(journal).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it lists the user's file names

    // A state folder that can't be made is a failure with the system's reason, never a silent loss.
    WriteFile(dir.filePath("blocked"), "a file, not a folder");
    EXPECT_THROW(SaveRenameJournal(contents, dir.filePath("blocked/velmora/rename-journal")), std::runtime_error);
    for (const QByteArray& garbage : {QByteArray("not a journal\n"), QByteArray("velmora rename journal 1\nfolder x\n")}) {
        WriteFile(journal, garbage);
        EXPECT_EQ(LoadRenameJournal(journal), std::nullopt);
        EXPECT_FALSE(HasRenameJournal(journal));
    }
    ClearRenameJournal(journal);
    ClearRenameJournal(journal);
    EXPECT_FALSE(QFile::exists(journal));
    EXPECT_FALSE(HasRenameJournal(journal));
}

TEST_F(RenameUnit, UndoGoesNewestFirstAndNamesWhatItCouldNotReverse)
{
    // A chain only comes apart backwards: 2 -> 3 must be reversed before 1 -> 2.
    Files({"1", "2", "x", "y"});
    RunRenamePlan(Plan({{"2", "3"}, {"1", "2"}, {"x", "x1"}, {"y", "y1"}}), dir.path(), {}, journal);
    Files({"x"});            // the old name taken again
    QFile::remove(P("y1"));  // a file gone
    const auto failed = UndoRenames(LoadRenameJournal(journal)->renames);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0].step, Plan({{"y", "y1"}})[0]);
    EXPECT_EQ(failed[0].reason, ErrorText(ENOENT));
    EXPECT_EQ(failed[1].step, Plan({{"x", "x1"}})[0]);
    EXPECT_EQ(failed[1].reason, ErrorText(EEXIST));
    EXPECT_EQ(RelativeFiles(dir.path()).filter(QRegularExpression("^[^s]")), (QStringList{"1", "2", "x", "x1"}));
    EXPECT_EQ(ReadFile(P("1")), "1");
    EXPECT_EQ(ReadFile(P("2")), "2");
    EXPECT_EQ(ReadFile(P("x1")), "x");  // left as it was
}

TEST_F(RenameUnit, TheJournalLivesInTheUsersStateFolder)
{
    const QByteArray savedHome = qgetenv("HOME"), savedState = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", dir.path().toUtf8());
    qputenv("XDG_STATE_HOME", P("st").toUtf8());
    EXPECT_EQ(RenameJournalPath(), P("st/velmora/rename-journal"));
    for (const char* ignored : {"", "relative/state"}) {
        qputenv("XDG_STATE_HOME", ignored);
        EXPECT_EQ(RenameJournalPath(), P(".local/state/velmora/rename-journal")) << ignored;
    }
    qputenv("HOME", savedHome);
    qputenv("XDG_STATE_HOME", savedState);
}

}  // namespace

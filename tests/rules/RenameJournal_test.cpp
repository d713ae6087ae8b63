// The rename batch as data: the check that refuses a batch before anything
// moves, the journal of what a batch renamed, and the undo of it.
#include "ErrnoText.h"
#include "RenameJournal.h"
#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <functional>
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

QByteArray Journal(const QString& path) { return ReadFile(path); }

RenameIdentity IdOf(const QString& path)
{
    struct stat st;
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

// The journal is on disk, whole, before the first rename: every file of the
// plan with its identity, any name surviving the round trip, private to the user.
TEST_F(RenameUnit, TheWholePlanIsOnDiskBeforeTheFirstRename)
{
    const QString odd = QFile::decodeName(QByteArray("gbk-\xc4\xe3\xba\xc3 x\ny.txt"));
    Files({"a b", odd, "%20", "sub dir/c", "kept"});
    const RenamePlan plan = Plan({{"a b", "新 名"}, {"kept", "kept"}, {odd, "o"}, {"%20", "%21"}, {"sub dir/c", "sub dir/d"}});
    std::vector<JournalEntry> expected;
    for (const RenameStep& step : plan)
        if (step.oldPath != step.newPath)
            expected.push_back({step, IdOf(step.oldPath)});
    std::optional<RenameJournalContents> seen;
    RunRenamePlan(plan, dir.path(), [&](int i) {
        if (i == 0)
            seen = ParseJournal(Journal(journal), journal);
        return true;
    }, journal);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->folder, dir.path());
    EXPECT_EQ(seen->renames, expected);
    // Files outside the folder given widen it to one that holds them all.
    EXPECT_EQ(JournalOfPlan(Plan({{"sub dir/d", "sub dir/e"}}), P("sub dir/deeper")).folder, P("sub dir"));

    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("state/velmora")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(journal).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it lists the user's file names
}

// However the batch ends, the undo reverses exactly what it did: stopped
// after any step, ended by a file that vanished, a chain that only comes
// apart backwards (2 -> 3 is reversed after 1 -> 2).
TEST_F(RenameUnit, UndoWorksOutFromTheDiskWhatTheBatchDid)
{
    const Steps chain{{"2", "3"}, {"1", "2"}, {"x", "x1"}, {"keep", "keep"}, {"y", "y1"}};
    struct Case {
        int lastStep;  // the batch stops after this step
        int vanishAt;  // after this step "x" is removed, so the next one fails; -1: none
        int done;      // renames the batch made, a file gone counted among them
    };
    const Case cases[] = {{0, -1, 1}, {1, -1, 2}, {2, -1, 3}, {3, -1, 3}, {4, -1, 4}, {4, 1, 3}};
    int n = 0;
    for (const Case& c : cases) {
        base = dir.filePath(QString::number(++n));
        Files({"1", "2", "x", "y", "keep"});
        const auto afterEach = [&](int i) {
            if (i == c.vanishAt)
                QFile::remove(P("x"));
            return i < c.lastStep;
        };
        if (c.vanishAt >= 0)
            EXPECT_THROW(RunRenamePlan(Plan(chain), base, afterEach, journal), std::runtime_error);
        else
            RunRenamePlan(Plan(chain), base, afterEach, journal);
        RenameUndo undo(journal);
        ASSERT_TRUE(undo.Pending()) << n;
        EXPECT_EQ(undo.DoneCount(), c.done) << n;
        EXPECT_EQ(undo.Run({}).size(), c.vanishAt >= 0 ? 1u : 0u) << n;  // the file gone is named
        QStringList left{"1", "2", "keep", "x", "y"};
        if (c.vanishAt >= 0)
            left.removeOne("x");
        EXPECT_EQ(RelativeFiles(base), left) << n;
        EXPECT_EQ(ReadFile(P("1")), "1") << n;
        EXPECT_EQ(ReadFile(P("2")), "2") << n;
        EXPECT_FALSE(QFile::exists(journal)) << n;
    }
    // A batch that ends before its first rename leaves the last one's journal as it was.
    RunRenamePlan(Plan({{"1", "one"}}), base, {}, journal);
    const QByteArray last = Journal(journal);
    RunRenamePlan(Plan({{"2", "2"}, {"y", "y1"}}), base, [](int) { return false; }, journal);
    RunRenamePlan(Plan({{"2", "2"}}), base, {}, journal);
    EXPECT_EQ(Journal(journal), last);
}

// What can't be undone is named with its reason and left as it is; the rest is undone.
TEST_F(RenameUnit, UndoNamesWhatItCouldNotReverse)
{
    base = dir.filePath("tree");
    Files({"x", "y", "z", "sub/w", "ok"});
    RunRenamePlan(Plan({{"x", "x1"}, {"y", "y1"}, {"z", "z1"}, {"sub/w", "sub/w1"}, {"ok", "ok1"}}), base, {},
                  journal);
    Files({"x"});            // the old name taken again
    QFile::remove(P("y1"));  // a file gone
    QFile::remove(P("z1"));  // another file in its place
    Files({"z1"});
    QDir(base).rename("sub", "../elsewhere");  // a link to outside where the subfolder was
    ASSERT_EQ(::symlink("../elsewhere", QFile::encodeName(P("sub")).constData()), 0);
    const auto failed = RenameUndo(journal).Run({});
    ASSERT_EQ(failed.size(), 4u);
    const std::pair<const char*, QString> expected[] = {{"sub/w", ErrorText(EXDEV)},
                                                        {"z", QString::fromUtf8("这个名称下已是另一个文件")},
                                                        {"y", ErrorText(ENOENT)},
                                                        {"x", ErrorText(EEXIST)}};
    for (std::size_t i = 0; i < failed.size(); ++i) {
        EXPECT_EQ(failed[i].step.oldPath, P(expected[i].first)) << i;
        EXPECT_EQ(failed[i].reason, expected[i].second) << i;
    }
    EXPECT_EQ(RelativeFiles(base), (QStringList{"ok", "x", "x1", "z1"}));
    EXPECT_EQ(RelativeFiles(dir.filePath("elsewhere")), QStringList{"w1"});
    EXPECT_EQ(ReadFile(P("x1")), "x");  // left as it was
    EXPECT_FALSE(QFile::exists(journal));
}

// A journal that can't be trusted is refused whole, before anything moves, and left in place.
TEST_F(RenameUnit, TamperedJournalsAreRefusedWhole)
{
    Files({"a1", "b1"});
    RunRenamePlan(Plan({{"a1", "a"}, {"b1", "b"}}), dir.path(), {}, journal);
    const QByteArray good = Journal(journal);
    const QByteArray folderLine = good.split('\n')[1];
    const RenameIdentity b = IdOf(P("b"));
    const QByteArray ids = " " + QByteArray::number(qulonglong(b.dev)) + " " + QByteArray::number(qulonglong(b.ino));
    const QByteArray head = "velmora rename journal 2\n" + folderLine + "\n";
    const QByteArray okLine = ". a1 a" + ids + "\n";
    const std::pair<const char*, QByteArray> cases[] = {
        {"garbage", "not a journal\n"},
        {"binary", QByteArray("\0\1\2\3", 4)},
        {"an older version", "velmora rename journal 1\nfolder /x\n/x/a1 /x/a\n"},
        {"no renames", head},
        {"a folder above", head + okLine + ".. b1 b" + ids + "\n"},
        {"an absolute folder", head + "%2Fetc b1 b" + ids + "\n"},
        {"a name with a slash", head + ". ..%2Fb1 b" + ids + "\n"},
        {"a name that is a dot", head + ". b1 ." + ids + "\n"},
        {"a relative batch folder", "velmora rename journal 2\nfolder here\n" + okLine},
        {"a short line", head + ". b1 b\n"},
        {"an identity not a number", head + ". b1 b 1 x\n"},
    };
    for (const auto& [what, bytes] : cases) {
        WriteFile(journal, bytes);
        EXPECT_THROW(RenameUndo{journal}, JournalRefused) << what;
        EXPECT_EQ(Journal(journal), bytes) << what;
    }
    EXPECT_EQ(RelativeFiles(dir.path()).filter(QRegularExpression("^[^s]")), (QStringList{"a", "b"}));
    WriteFile(journal, good);
    EXPECT_TRUE(RenameUndo(journal).Run({}).empty());
    EXPECT_EQ(RelativeFiles(dir.path()).filter(QRegularExpression("^[^s]")), (QStringList{"a1", "b1"}));
}

// One batch or undo at a time: the second is refused at once and moves
// nothing; an undo removes only the journal it read.
TEST_F(RenameUnit, OneBatchOrUndoAtATime)
{
    const std::string busy = QString::fromUtf8("另一个批量改名或撤销正在进行").toStdString();
    const auto refusedAsBusy = [&](const std::function<void()>& second) {
        try {
            second();
        } catch (const std::runtime_error& e) {
            return e.what() == busy;
        }
        return false;
    };
    Files({"a", "b", "c"});
    RunRenamePlan(Plan({{"a", "a1"}, {"b", "b1"}}), dir.path(), [&](int) {
        EXPECT_TRUE(refusedAsBusy([&] { RunRenamePlan(Plan({{"c", "c1"}}), dir.path(), {}, journal); }));
        EXPECT_TRUE(refusedAsBusy([&] { RenameUndo{journal}; }));
        return true;
    }, journal);
    EXPECT_TRUE(QFile::exists(P("c")));

    RenameUndo undo(journal);
    EXPECT_TRUE(refusedAsBusy([&] { RunRenamePlan(Plan({{"c", "c1"}}), dir.path(), {}, journal); }));
    // A writer that ignores the lock (an older program) puts a journal of its own there meanwhile.
    const QByteArray newer = "velmora rename journal 2\nnot ours\n";
    undo.Run([&](int i) {
        if (i == 0)
            WriteFile(journal + ".new", newer), ::rename(QFile::encodeName(journal + ".new").constData(),
                                                          QFile::encodeName(journal).constData());
        return true;
    });
    EXPECT_EQ(RelativeFiles(dir.path()).filter(QRegularExpression("^[^s]")), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(Journal(journal), newer);
}

// No journal, no rename: where it can't be written the batch is refused with
// the reason before the first rename.
TEST_F(RenameUnit, NoJournalNoRename)
{
    const QByteArray savedHome = qgetenv("HOME"), savedState = qgetenv("XDG_STATE_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", savedHome);
        qputenv("XDG_STATE_HOME", savedState);
    });
    WriteFile(P("file"), "a file, not a folder");
    struct Case {
        const char* what;
        QByteArray home;     // nullptr: unset
        QByteArray state;
        QString reasonHolds;
    };
    const Case cases[] = {
        {"a state folder below a file", dir.path().toUtf8(), P("file/state").toUtf8(), ErrorText(ENOTDIR)},
        {"HOME unset", {}, {}, "HOME"},
        {"HOME relative", "home", "relative/state", "HOME"},
        {"HOME missing", "/nonexistent", {}, "HOME"},
    };
    Files({"a"});
    for (const Case& c : cases) {
        c.home.isNull() ? qunsetenv("HOME") : qputenv("HOME", c.home);
        c.state.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", c.state);
        try {
            RunRenamePlan(Plan({{"a", "b"}}), dir.path(), {});
            ADD_FAILURE() << c.what;
        } catch (const std::runtime_error& e) {
            const QString message = QString::fromUtf8(e.what());
            EXPECT_TRUE(message.startsWith(QString::fromUtf8("改名记录无法保存，未改名任何文件："))) << c.what;
            EXPECT_TRUE(message.contains(c.reasonHolds)) << c.what << " " << e.what();
        }
        EXPECT_TRUE(QFile::exists(P("a"))) << c.what;
        EXPECT_FALSE(RenameUndo().Pending()) << c.what;
    }
    EXPECT_FALSE(QFile::exists("/nonexistent"));

    qputenv("HOME", dir.path().toUtf8());
    qputenv("XDG_STATE_HOME", P("st").toUtf8());
    EXPECT_EQ(RenameJournalPath(), P("st/velmora/rename-journal"));
    for (const char* ignored : {"", "relative/state"}) {
        qputenv("XDG_STATE_HOME", ignored);
        EXPECT_EQ(RenameJournalPath(), P(".local/state/velmora/rename-journal")) << ignored;
    }
}

}  // namespace

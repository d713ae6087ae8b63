// velmora-cli's rename batch and undo under signals, kills and a second
// batch started meanwhile; its password prompt under signals and over-long
// lines, on a real pseudo-terminal.
#include "CliTestUtil.h"
#include "RenameJournal.h"
#include "TestUtil.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace clitest;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

QByteArray U8(const char* s)
{
    return QByteArray(s);
}

const QByteArray kBusy = U8("另一个批量改名或撤销正在进行");
const QByteArray kPrompt = U8("密码：");

class CliJournal : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString S = tmp.path() + "/src";
    QString T = tmp.path() + "/out";
    QString err = tmp.path() + "/err";
    QMap<QString, QByteArray> before;

    void SetUp() override
    {
        QFile::remove(RenameJournalPath());  // each test starts with nothing to undo
        for (const char* rel : {"a.txt", "b.txt", "c.txt", "sub/d.txt", "sub/e.txt"})
            WriteFile(S + "/" + rel, rel);
        QDir().mkpath(T);
        before = Snapshot(S);
    }
    QStringList Rename(const char* rule = "n[1][1]") const { return {"rename", "--rule", rule, "-r", S}; }
    // How many files now have a name they didn't have at the start.
    int Renamed() const
    {
        int renamed = 0;
        for (const QString& name : Snapshot(S).keys())
            renamed += !before.contains(name);
        return renamed;
    }
};

// Ended at a chosen rename by a signal or a kill: no file is renamed after
// it, and the undo restores every name.
TEST_F(CliJournal, SignalsAndKillsMidBatchThenUndo)
{
    struct Case {
        const char* name;
        int sig;
        int status;  // minus the signal when it ends the program
    };
    const Case cases[] = {
        {"SIGTERM", SIGTERM, 1}, {"SIGHUP", SIGHUP, 1}, {"SIGINT", SIGINT, 1}, {"SIGKILL", SIGKILL, -SIGKILL}};
    for (const Case& c : cases) {
        Paused batch(Rename(), 2, err);
        ASSERT_TRUE(batch.Stopped()) << c.name;
        EXPECT_EQ(batch.Finish(c.sig), c.status) << c.name;
        EXPECT_EQ(Renamed(), 2) << c.name;
        EXPECT_EQ(ReadFile(err).contains(U8("批处理已被中断")), c.status == 1) << c.name;
        const CliResult undo = RunCli({"undo-rename"});
        EXPECT_EQ(undo.status, 0) << c.name << undo.err.toStdString();
        EXPECT_EQ(Snapshot(S), before) << c.name;
    }
}

// While a batch or an undo runs, another one is refused at once and renames nothing.
TEST_F(CliJournal, ASecondBatchOrUndoIsRefusedWhileOneRuns)
{
    const auto refused = [&](const QStringList& args) {
        const CliResult r = RunCli(args);
        EXPECT_NE(r.status, 0) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(kBusy)) << r.err.toStdString();
    };
    {
        Paused batch(Rename(), 1, err);
        ASSERT_TRUE(batch.Stopped());
        refused(Rename("m[1][1]"));
        refused({"undo-rename"});
        EXPECT_EQ(Renamed(), 1);
        EXPECT_EQ(batch.Finish(), 0);
    }
    EXPECT_EQ(Renamed(), 5);
    {
        Paused undo({"undo-rename"}, 1, err);
        ASSERT_TRUE(undo.Stopped());
        refused(Rename("m[1][1]"));
        EXPECT_EQ(undo.Finish(), 0);
    }
    EXPECT_EQ(Snapshot(S), before);
    EXPECT_EQ(RunCli({"undo-rename"}).status, 2);  // the journal it undid is gone
}

// A journal that can't be written keeps the batch from renaming anything.
TEST_F(CliJournal, NoJournalNoRename)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", S + "/a.txt/state");  // below a file: no folder can be made there
    const CliResult r = RunCli(Rename(), {}, {}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(U8("改名记录无法保存，未改名任何文件"))) << r.err.toStdString();
    EXPECT_EQ(Snapshot(S), before);
}

// Whatever ends the program at the password prompt, the terminal echoes again.
TEST_F(CliJournal, TheTerminalEchoesAgainWhateverEndsThePrompt)
{
    const std::pair<const char*, std::function<void(Terminal&)>> cases[] = {
        {"Ctrl+C", [](Terminal& t) { t.Type("\x03"); }},
        {"SIGTERM", [](Terminal& t) { kill(t.Pid(), SIGTERM); }},
        {"SIGHUP", [](Terminal& t) { kill(t.Pid(), SIGHUP); }},
    };
    for (const auto& [name, end] : cases) {
        Terminal t({"encrypt", "-t", T, S + "/a.txt"});
        ASSERT_TRUE(t.ShowsWithin(kPrompt)) << name;
        EXPECT_FALSE(t.Echoes()) << name;
        end(t);
        std::optional<int> status = t.EndsWithin(5000);
        if (!status) {  // still waiting: the user presses Ctrl+C again
            t.Type("\x03");
            status = t.EndsWithin(5000);
        }
        EXPECT_TRUE(status) << name;
        EXPECT_TRUE(t.Echoes()) << name;
        EXPECT_FALSE(testutil::Exists(T + "/a.txt")) << name;
    }
}

// A password line over 1 KiB is refused without reading on, from every source.
TEST_F(CliJournal, APasswordLineOver1KiBIsRefusedUnread)
{
    const QByteArray longLine(1025, 'x');
    WriteFile(tmp.path() + "/long", longLine + "\nrest\n");
    WriteFile(tmp.path() + "/1k", QByteArray(1024, 'x') + "\r\n");
    struct Case {
        const char* name;
        QStringList args;
        QByteArray input;
        int status;
    };
    const Case cases[] = {
        {"/dev/zero", {"--password-file", "/dev/zero"}, {}, 2},
        {"a file", {"--password-file", tmp.path() + "/long"}, {}, 2},
        {"standard input", {}, longLine + "\n", 2},
        {"exactly 1 KiB", {"--password-file", tmp.path() + "/1k"}, {}, 0},
    };
    for (const Case& c : cases) {
        QFile::remove(T + "/a.txt");
        const CliResult r = RunCli(QStringList{"encrypt", "-t", T} + c.args + QStringList{S + "/a.txt"}, c.input);
        EXPECT_EQ(r.status, c.status) << c.name << r.err.toStdString();
        EXPECT_EQ(r.err.contains(U8("密码过长")), c.status == 2) << c.name;
        EXPECT_EQ(testutil::Exists(T + "/a.txt"), c.status == 0) << c.name;
    }
    QFile::remove(T + "/a.txt");
    Terminal t({"encrypt", "-t", T, S + "/a.txt"});
    ASSERT_TRUE(t.ShowsWithin(kPrompt));
    t.Type(QByteArray(2000, 'y') + "\n");
    EXPECT_EQ(t.EndsWithin(10000), 2);
    EXPECT_TRUE(t.shown.contains(U8("密码过长"))) << t.shown.toStdString();
    EXPECT_TRUE(t.Echoes());
    EXPECT_FALSE(testutil::Exists(T + "/a.txt"));
}

}  // namespace

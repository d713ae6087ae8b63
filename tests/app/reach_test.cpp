// Every batch reaches its files from inside the folder it was named on:
// folders swapped for links while a batch runs, links that leave the folder
// or lead nowhere, folders it can't read or name, and two sources that would
// share one target. Through the batches the window and velmora-cli share,
// and through velmora-cli itself for what it reports and how it exits.
#include "CryptBatch.h"
#include "Dialogs.h"
#include "RenameJournal.h"
#include "TestUtil.h"
#include "ZipBatch.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testutil::ReadFile;
using testutil::WriteFile;

namespace {

constexpr uid_t kNobody = 65534;

struct CliResult {
    int status = -1;
    QString out;
    QString err;
};

// velmora-cli with args; as the unprivileged user nobody (setresuid in the
// child before exec) when asUser is set.
CliResult RunCli(const QStringList& args, bool asUser = false)
{
    QProcess p;
    if (asUser)
        p.setChildProcessModifier([] {
            if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)
                ::_exit(125);
        });
    p.start(qEnvironmentVariable("VELMORA_CLI"), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QStringList Members(const QString& archive)
{
    ZipArchive zip;
    zip.Open(archive.toStdString(), ZipMode::Read);
    QStringList names;
    for (const ZipHeader& h : zip.Headers())
        names << QString::fromStdString(h.Name);
    return names;
}

// A tree S with a plain file and a subfolder, beside a private folder P
// (mode 0700) holding a secret, and a target folder T.
class Reach : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::chmod(tmp.path().toLocal8Bit().constData(), 0755);  // nobody may walk to S
        S = tmp.path() + "/S";
        P = tmp.path() + "/P";
        T = tmp.path() + "/T";
        WriteFile(S + "/a.txt", "a");
        WriteFile(S + "/sub/b.txt", "b");
        WriteFile(P + "/b.txt", "secret");
        QDir().mkpath(T);
        ::chmod(P.toLocal8Bit().constData(), 0700);
    }
    void TearDown() override
    {
        // rm walks by descriptor, so it also removes folders past 4096 bytes of path.
        testutil::Run("rm -rf '" + tmp.path() + "'");
    }
    // The folder becomes a link to target, as another user could make it.
    static void SwapForLink(const QString& folder, const QString& target)
    {
        ASSERT_TRUE(QDir().rename(folder, folder + ".moved"));
        ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), folder.toLocal8Bit().constData()), 0);
    }

    QTemporaryDir tmp;
    QString S, P, T;
};

// The swap comes at the moment a batch starts on the file in the swapped
// folder, after the tree was listed: each batch must turn it down rather
// than read, or write beside, what lies in the private folder.
TEST_F(Reach, AFolderSwappedForALinkMidBatchIsNeverReadThrough)
{
    {
        ZipArchive zip;
        zip.Open((S + "/sub/x.zip").toStdString(), ZipMode::Write);
        zip.Add((S + "/sub/b.txt").toStdString(), "m.txt");
        zip.Close();
        QFile::copy(S + "/sub/x.zip", P + "/x.zip");
    }
    using Run = std::function<void(const batch::Hooks&)>;
    const struct {
        const char* batch;
        QString swapAt;
        Run run;
    } cases[] = {
        {"encrypt tree", S + "/sub/b.txt",
         [&](const batch::Hooks& hooks) {
             cryptbatch::CryptRun run({cryptbatch::Direction::Encrypt, cryptbatch::Layout::Tree, "pw", T, S, S});
             run.Walk(batch::Entries::Of(GetAllFiles(S)), hooks);
         }},
        {"zip checked files", S + "/sub/b.txt",
         [&](const batch::Hooks& hooks) {
             ZipArchive zip;
             zipbatch::ZipEntries(zip, T + "/c.zip", batch::Entries::Of({S + "/a.txt", S + "/sub/b.txt"}), hooks,
                                  batch::Sources(S));
         }},
        {"extract beside", S + "/sub/x.zip",
         [&](const batch::Hooks& hooks) {
             ZipArchive zip;
             zipbatch::ExtractEntries(zip, batch::Entries::Of({S + "/sub/x.zip"}), std::nullopt, {}, hooks,
                                      batch::Sources(S));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.batch);
        SetUp();
        QStringList refused;
        batch::Hooks hooks;
        hooks.starting = [&](const QString& file, qsizetype) {
            if (file == c.swapAt)
                SwapForLink(S + "/sub", P);
        };
        hooks.leftOut = [&](const QString& file, const QString&) { refused << file; };
        hooks.failed = [&](const batch::Failure& f) {
            refused << f.file;
            return true;
        };
        c.run(hooks);
        EXPECT_TRUE(refused.contains(c.swapAt));
        for (const QString& file : refused)
            EXPECT_TRUE(file.startsWith(S + "/sub/")) << file.toStdString();
        EXPECT_FALSE(testutil::Exists(P + "/m.txt"));
        EXPECT_FALSE(testutil::Exists(T + "/sub/b.txt"));
        if (testutil::Exists(T + "/c.zip")) {
            EXPECT_EQ(Members(T + "/c.zip"), QStringList{"a.txt"});
        }
        TearDown();
    }
}

// The listed subfolder becomes a link to the private folder after the first
// rename: the second rename must not reach the private folder's file.
TEST_F(Reach, ARenameBatchNeverRenamesThroughASwappedFolder)
{
    const RenamePlan plan{{S + "/a.txt", S + "/a2.txt"}, {S + "/sub/b.txt", S + "/sub/b2.txt"}};
    EXPECT_ANY_THROW(RunRenamePlan(
        plan, S,
        [&](int i) {
            if (i == 0)
                SwapForLink(S + "/sub", P);
            return true;
        },
        tmp.path() + "/journal"));
    EXPECT_EQ(ReadFile(S + "/a2.txt"), QByteArray("a"));
    EXPECT_EQ(ReadFile(P + "/b.txt"), QByteArray("secret"));
    EXPECT_FALSE(testutil::Exists(P + "/b2.txt"));
}

// A link inside the folder is its file; one planted by another user that
// leads outside, and one that leads nowhere, are named and fail the batch;
// a link named on the command line is followed.
TEST_F(Reach, LinksPlantedByAnotherUserAreNamedAndLeftOutOfTheCommandLinesBatches)
{
    ASSERT_EQ(::symlink("a.txt", (S + "/in").toLocal8Bit().constData()), 0);
    ASSERT_EQ(::symlink((P + "/b.txt").toLocal8Bit().constData(), (S + "/out").toLocal8Bit().constData()), 0);
    ASSERT_EQ(::lchown((S + "/out").toLocal8Bit().constData(), kNobody, kNobody), 0);
    ASSERT_EQ(::symlink("nowhere", (S + "/dead").toLocal8Bit().constData()), 0);
    const struct {
        QStringList args;
        std::function<QStringList()> result;
        QStringList expected;
    } cases[] = {
        {{"zip", tmp.path() + "/t.zip", "-r", S}, [&] { return Members(tmp.path() + "/t.zip"); }, {"a.txt", "in", "sub/b.txt"}},
        {{"encrypt", "-t", T, "-p", "pw", "-r", S},
         [&] { return testutil::RelativeFiles(T); },
         {"a.txt", "in", "note.txt", "sub/b.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.contains(S + "/out：指向文件夹外的符号链接")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(S + "/dead：无效的符号链接")) << r.err.toStdString();
        EXPECT_EQ(c.result(), c.expected);
    }
    const CliResult named = RunCli({"zip", T + "/named.zip", S + "/out"});
    EXPECT_EQ(named.status, 0) << named.err.toStdString();
    EXPECT_EQ(Members(T + "/named.zip"), QStringList{"out"});
}

// A folder the user can't read (as nobody, through setresuid) and one whose
// path passes 4096 bytes are named; the rest of the tree is still processed.
TEST_F(Reach, UnreadableAsNobodyViaSetresuidAndTooDeepFoldersAreNamedAndTheRestProcessed)
{
    WriteFile(S + "/locked/c.txt", "c");
    ::chmod((S + "/locked").toLocal8Bit().constData(), 0700);
    const CliResult list = RunCli({"list", "-r", S}, /*asUser=*/true);
    EXPECT_EQ(list.status, 1) << list.err.toStdString();
    EXPECT_TRUE(list.err.contains(S + "/locked：无法读取的文件夹")) << list.err.toStdString();
    EXPECT_TRUE(list.out.contains(S + "/sub/b.txt"));

    // 25 folders of 200 bytes: no path of the walk may name the last ones.
    int fd = ::open(S.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY);
    const std::string part(200, 'd');
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(::mkdirat(fd, part.c_str(), 0755), 0);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    const CliResult zip = RunCli({"zip", T + "/deep.zip", "-r", S});
    EXPECT_EQ(zip.status, 1);
    EXPECT_TRUE(zip.err.contains(QStringLiteral("：路径过长的文件夹"))) << zip.err.toStdString();
    EXPECT_TRUE(Members(T + "/deep.zip").contains("sub/b.txt"));

    // The window's export and rename name the folder in their last box too.
    ScriptedDialogs dialogs;
    Tfrm_main w{dialogs};
    w.ruleDialogHook = [](Tfrm_Rule& d) {
        d.edt_prefix->setText(QStringLiteral("n[1][1]"));
        QTest::mouseClick(d.btn_Change, Qt::LeftButton);
    };
    w.edt_Folder->setText(S);
    const struct {
        const char* batch;
        QPushButton* button;
        std::function<bool()> restProcessed;
    } rows[] = {
        {"window export", w.btn_OutAllFiles,
         [&] { return ReadFile(T + "/list.csv").contains((S + "/sub/b.txt").toUtf8()); }},
        {"window rename", w.btn_ChangeAllFileName, [&] { return !testutil::Exists(S + "/sub/b.txt"); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.batch);
        dialogs.shown.clear();
        dialogs.saveAnswers.push_back(T + "/list");
        row.button->click();
        EXPECT_TRUE(row.restProcessed());
        ASSERT_FALSE(dialogs.shown.empty());
        const ShownBox& last = dialogs.shown.back();
        EXPECT_TRUE((last.text + last.details).contains(QStringLiteral("路径过长的文件夹"))) << last.text.toStdString();
    }
}

// Two checked files with one bare name: the second gets no target and its
// log line says so, where it once replaced the first one's copy.
TEST_F(Reach, TwoSourcesWithOneTargetLeaveTheFirstOnesCopy)
{
    WriteFile(S + "/c/b.txt", "other");
    const CliResult r = RunCli({"encrypt", "-t", T, "-p", "pw", S + "/sub/b.txt", S + "/c/b.txt"});
    const QString same = QStringLiteral("目标文件与本批次的另一个文件同名，未写入");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(S + "/c/b.txt：" + same)) << r.err.toStdString();
    QDir().mkpath(tmp.path() + "/D");
    EXPECT_EQ(RunCli({"decrypt", "-t", tmp.path() + "/D", "-p", "pw", T + "/b.txt"}).status, 0);
    EXPECT_EQ(ReadFile(tmp.path() + "/D/b.txt"), QByteArray("b"));
    EXPECT_TRUE(QString::fromUtf8(ReadFile(T + "/note.txt")).split("\r\n")[1].endsWith(same + QStringLiteral("）")));
}

}  // namespace

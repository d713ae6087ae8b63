// velmora-cli beside the window: each command and the window's batch on the
// same tree must leave the same bytes; passwords from every source the
// command line offers, a real pseudo-terminal included; every exit status.
#include "CliTestUtil.h"
#include "Dialogs.h"
#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using clitest::RunOnTerminal;
using clitest::Snapshot;
using testutil::ReadFile;
using testutil::WriteFile;
using windowtest::Cli;
using windowtest::CliResult;
using windowtest::RunCli;

namespace {

QString U(const char* s)
{
    return QString::fromUtf8(s);
}



class CliBesideWindow : public ::testing::Test {
public:
    QTemporaryDir tmp;
    ScriptedDialogs dialogs;
    Tfrm_main w{dialogs};
    QString S, T, E;

    void SetUp() override
    {
        ASSERT_FALSE(Cli().isEmpty());
        S = tmp.path() + "/src";
        T = tmp.path() + "/out";
        QByteArray big(100000, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 + i / 251);
        const QList<QPair<const char*, QByteArray>> files{
            {"a.txt", "first\n"}, {"中文名.bin", "12345678"}, {"with,comma.txt", ""}, {"big.dat", big},
            {"sub/x.txt", "123456789"}, {"sub/deeper/y.zip", "no archive"}};
        for (const auto& [rel, bytes] : files)
            WriteFile(S + "/" + U(rel), bytes);
        QDir().mkpath(T);
        w.show();
    }

    // The window's two pages on the source folder; the lists hold its top files, all checked.
    void OpenPages()
    {
        w.edt_Folder->setText(S);
        w.edt_Folder_2->setText(S);
    }
    QStringList TopFiles() const
    {
        QStringList files;
        for (int i = 0; i < w.Lst_FIles_1->count(); ++i)
            files << w.Lst_FIles_1->item(i)->text();
        return files;
    }
    void AnswerRule(std::function<void(Tfrm_Rule&)> fill) { w.ruleDialogHook = std::move(fill); }
};

// One row per command: what the window does, what the command line is given,
// and the folder whose files both must leave alike (emptied between the two).
struct SameCase {
    const char* name;
    std::function<void(CliBesideWindow&)> window;
    std::function<QStringList(CliBesideWindow&)> cli;
    std::function<QString(CliBesideWindow&)> compared;
};

TEST_F(CliBesideWindow, EveryCommandLeavesTheBytesTheWindowLeaves)
{
    const auto out = [](CliBesideWindow& f) { return f.T; };
    const auto pw = QStringLiteral("s3cret");
    const SameCase cases[] = {
        {"encrypt tree", [&](CliBesideWindow& f) {
             f.w.edt_Password->setText(pw);
             f.dialogs.folderAnswers = {f.T};
             f.w.btn_EncryptFolders->click();
         }, [&](CliBesideWindow& f) { return QStringList{"encrypt", "-t", f.T, "-p", pw, "-r", f.S}; }, out},
        {"encrypt checked", [&](CliBesideWindow& f) {
             f.w.edt_Password->setText(pw);
             f.dialogs.folderAnswers = {f.T};
             f.w.btn_EncryptSelectedFiles->click();
         }, [&](CliBesideWindow& f) { return QStringList{"encrypt", "-t", f.T, "-p", pw} + f.TopFiles(); }, out},
        {"decrypt tree", [&](CliBesideWindow& f) {
             f.w.edt_Folder_2->setText(f.E);
             f.w.edt_Password_2->setText(pw);
             f.dialogs.folderAnswers = {f.T};
             f.w.btn_DECrypt_ALl->click();
         }, [&](CliBesideWindow& f) { return QStringList{"decrypt", "-t", f.T, "-p", pw, "-r", f.E}; }, out},
        {"zip tree", [](CliBesideWindow& f) {
             f.dialogs.yesNoAnswers = {false};  // the key edit still holds the password: not for the archive
             f.dialogs.saveAnswers = {f.T + "/a"};
             f.w.btn_ZipFolder->click();
         }, [](CliBesideWindow& f) { return QStringList{"zip", f.T + "/a.zip", "-r", f.S}; }, out},
        {"zip checked", [](CliBesideWindow& f) {
             f.dialogs.yesNoAnswers = {false};  // the key edit still holds the password: not for the archive
             f.dialogs.saveAnswers = {f.T + "/a"};
             f.w.btn_ZipSelected->click();
         }, [](CliBesideWindow& f) { return QStringList{"zip", f.T + "/a.zip"} + f.TopFiles(); }, out},
        {"list tree", [](CliBesideWindow& f) {
             f.dialogs.saveAnswers = {f.T + "/l"};
             f.w.btn_OutAllFiles->click();
         }, [](CliBesideWindow& f) { return QStringList{"list", "-o", f.T + "/l.csv", "-r", f.S}; }, out},
        {"list checked", [](CliBesideWindow& f) {
             f.dialogs.saveAnswers = {f.T + "/l"};
             f.w.btn_OutFiles->click();
         }, [](CliBesideWindow& f) { return QStringList{"list", "-o", f.T + "/l.csv"} + f.TopFiles(); }, out},
    };
    E = tmp.path() + "/enc";  // the tree encrypted, for the decrypt batches
    QDir().mkpath(E);
    ASSERT_EQ(RunCli({"encrypt", "-t", E, "-p", pw, "-r", S}).status, 0);
    QFile::remove(E + "/note.txt");
    OpenPages();
    for (const SameCase& c : cases) {
        c.window(*this);
        const QMap<QString, QByteArray> byWindow = Snapshot(c.compared(*this));
        EXPECT_FALSE(byWindow.isEmpty()) << c.name;
        QDir(T).removeRecursively();
        QDir().mkpath(T);
        const CliResult r = RunCli(c.cli(*this));
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err.toStdString();
        EXPECT_EQ(Snapshot(c.compared(*this)), byWindow) << c.name;
        QDir(T).removeRecursively();
        QDir().mkpath(T);
    }
}

TEST_F(CliBesideWindow, ExtractionAndListOnStandardOutputMatchTheWindow)
{
    // Two archives of the tree, one in a subfolder; both extracted into T by each side.
    ASSERT_EQ(RunCli({"zip", S + "/t.zip", "-r", S + "/sub"}).status, 0);
    ASSERT_EQ(RunCli({"zip", S + "/sub/u.zip", S + "/a.txt"}).status, 0);
    OpenPages();
    dialogs.folderAnswers = {T};
    w.btn_UnZipAllToSpecified->click();
    const auto byWindow = Snapshot(T);
    EXPECT_EQ(byWindow.keys(), (QStringList{"a.txt", "deeper/y.zip", "x.txt"}));
    QDir(T).removeRecursively();
    QDir().mkpath(T);
    EXPECT_EQ(RunCli({"unzip", "-t", T, S + "/t.zip", S + "/sub/u.zip"}).status, 0);
    EXPECT_EQ(Snapshot(T), byWindow);

    // The CSV on standard output is the file the window writes.
    dialogs.saveAnswers = {T + "/l"};
    w.btn_OutAllFiles->click();
    EXPECT_EQ(RunCli({"list", "-r", S}).out, ReadFile(T + "/l.csv"));
}

TEST_F(CliBesideWindow, RenamesMatchTheWindowAndEitherUndoesTheOther)
{
    OpenPages();
    const QMap<QString, QByteArray> before = Snapshot(S);
    struct Rename {
        std::function<void(Tfrm_Rule&)> dialog;
        QStringList cli;
    };
    const Rename renames[] = {
        {[](Tfrm_Rule& d) {
             d.edt_prefix->setText(U("img[1][2]"));
             QTest::mouseClick(d.btn_Change, Qt::LeftButton);
         },
         {"--rule", "img[1][2]"}},
        {[](Tfrm_Rule& d) {
             d.edt_old->setText("x");
             d.edt_Replace->setText(U("叉"));
             QTest::mouseClick(d.btn_Replace, Qt::LeftButton);
         },
         {"--replace", "x", U("叉")}},
    };
    for (const Rename& r : renames) {
        AnswerRule([&](Tfrm_Rule& d) {
            d.show();
            r.dialog(d);
        });
        w.btn_ChangeAllFileName->click();
        const auto byWindow = Snapshot(S);
        EXPECT_NE(byWindow, before);
        ASSERT_EQ(RunCli({"undo-rename"}).status, 0);  // the window's batch undone from the command line
        EXPECT_EQ(Snapshot(S), before);

        // A dry run prints the plan and changes nothing.
        const CliResult dry = RunCli(QStringList{"rename"} + r.cli + QStringList{"--dry-run", "-r", S});
        EXPECT_EQ(dry.status, 0);
        EXPECT_EQ(dry.out.count(" -> "), before.size());
        EXPECT_EQ(Snapshot(S), before);

        ASSERT_EQ(RunCli(QStringList{"rename"} + r.cli + QStringList{"-r", S}).status, 0);
        EXPECT_EQ(Snapshot(S), byWindow);
        w.UndoLastRenameClick();  // and the command line's batch undone in the window
        EXPECT_EQ(Snapshot(S), before);
        w.edt_FolderChange();
    }
    // Names given relative to the working folder are journalled in full, so
    // the undo finds them from anywhere.
    ASSERT_EQ(RunCli({"rename", "--rule", "r[1][1]", "a.txt", "sub/x.txt"}, {}, S).status, 0);
    EXPECT_TRUE(testutil::Exists(S + "/sub/r2.txt"));
    ASSERT_EQ(RunCli({"undo-rename"}, {}, tmp.path()).status, 0);
    EXPECT_EQ(Snapshot(S), before);
}

TEST_F(CliBesideWindow, PasswordsFromEverySourceGiveTheSameKey)
{
    const QString file = S + "/a.txt";
    ASSERT_EQ(RunCli({"encrypt", "-t", T, "-p", "pa ss", file}).status, 0);
    const QByteArray expected = ReadFile(T + "/a.txt");
    WriteFile(tmp.path() + "/pw", "pa ss\r\nsecond line\n");
    struct Source {
        const char* name;
        QStringList args;
        QByteArray input;
    };
    const Source sources[] = {
        {"file", {"--password-file", tmp.path() + "/pw"}, {}},
        {"pipe", {}, "pa ss\nignored\n"},
    };
    for (const Source& s : sources) {
        QFile::remove(T + "/a.txt");
        const CliResult r = RunCli(QStringList{"encrypt", "-t", T} + s.args + QStringList{file}, s.input);
        EXPECT_EQ(r.status, 0) << s.name << r.err.toStdString();
        EXPECT_EQ(ReadFile(T + "/a.txt"), expected) << s.name;
    }

    // On a terminal: asked twice without echo; two different answers start nothing.
    QFile::remove(T + "/a.txt");
    QByteArray shown;
    EXPECT_EQ(RunOnTerminal({"encrypt", "-t", T, file}, {"pa ss", "pa ss"}, &shown), 0) << shown.toStdString();
    EXPECT_EQ(ReadFile(T + "/a.txt"), expected);
    EXPECT_FALSE(shown.contains("pa ss"));
    QFile::remove(T + "/a.txt");
    shown.clear();
    EXPECT_EQ(RunOnTerminal({"encrypt", "-t", T, file}, {"pa ss", "other"}, &shown), 2);
    EXPECT_FALSE(testutil::Exists(T + "/a.txt"));
    // Decrypting asks once; the progress line shows on the terminal.
    ASSERT_EQ(RunCli({"encrypt", "-t", T, "-p", "pa ss", file}).status, 0);
    const QString back = tmp.path() + "/back";
    QDir().mkpath(back);
    shown.clear();
    EXPECT_EQ(RunOnTerminal({"decrypt", "-t", back, T + "/a.txt"}, {"pa ss"}, &shown), 0);
    EXPECT_EQ(ReadFile(back + "/a.txt"), ReadFile(file));
    EXPECT_TRUE(shown.contains("/1] a.txt")) << shown.toStdString();
}

// zip encrypts only when given a password, from any of its three sources;
// 7-Zip opens the archive with that password and refuses another.
TEST_F(CliBesideWindow, ZipPasswordsFromEverySourceEncryptTheArchive)
{
    if (!testutil::HaveTool(QStringLiteral("7z")))
        GTEST_SKIP() << "7z missing";
    const QString file = S + "/a.txt";
    WriteFile(tmp.path() + "/pw", "pa ss\nsecond line\n");
    struct Source {
        const char* name;
        QStringList args;
        QByteArray piped;
        QList<QByteArray> typed;  // answers on a terminal, when not empty
        int status;
    };
    const Source sources[] = {
        {"-p", {"-p", "pa ss"}, {}, {}, 0},
        {"file", {"--password-file", tmp.path() + "/pw"}, {}, {}, 0},
        {"ask, piped", {"--ask-password"}, "pa ss\n", {}, 0},
        {"ask, typed", {"--ask-password"}, {}, {"pa ss", "pa ss"}, 0},
        {"ask, typed twice differently", {"--ask-password"}, {}, {"pa ss", "other"}, 2},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        const QString archive = T + "/" + U(s.name) + ".zip";
        const QStringList args = QStringList{"zip"} + s.args + QStringList{archive, file};
        QByteArray shown;
        const int status = s.typed.isEmpty() ? RunCli(args, s.piped).status : RunOnTerminal(args, s.typed, &shown);
        ASSERT_EQ(status, s.status) << shown.toStdString();
        EXPECT_FALSE(shown.contains("pa ss"));
        if (status != 0) {
            EXPECT_FALSE(testutil::Exists(archive));
            continue;
        }
        QProcess sevenZip;
        sevenZip.start("7z", {"x", "-so", "-pwrong", archive});
        sevenZip.waitForFinished();
        EXPECT_NE(sevenZip.exitCode(), 0);
        sevenZip.start("7z", {"x", "-so", "-ppa ss", archive});
        sevenZip.waitForFinished();
        EXPECT_EQ(sevenZip.exitCode(), 0);
        EXPECT_EQ(sevenZip.readAllStandardOutput(), ReadFile(file));
    }
}

// unzip takes the password from -p or a file, or asks once on the terminal
// when it meets an encrypted member; with a wrong one the plain member beside
// it still extracts, the encrypted one is named and not written, status 1.
TEST_F(CliBesideWindow, UnzipPasswordsFromOptionsAndTheTerminal)
{
    if (!testutil::HaveTool(QStringLiteral("7z")))
        GTEST_SKIP() << "7z missing";
    const QString file = S + "/a.txt";
    const QString archive = tmp.path() + "/e.zip";
    ASSERT_EQ(RunCli({"zip", "-p", U("pa ss 密码"), archive, file}).status, 0);
    WriteFile(tmp.path() + "/plain.txt", "plain");
    QProcess sevenZip;
    sevenZip.setWorkingDirectory(tmp.path());
    sevenZip.start("7z", {"a", "-tzip", archive, "plain.txt"});
    ASSERT_TRUE(sevenZip.waitForFinished() && sevenZip.exitCode() == 0);
    WriteFile(tmp.path() + "/pw", U("pa ss 密码\n").toUtf8());
    struct Case {
        const char* name;
        QStringList args;
        QList<QByteArray> typed;  // answers on a terminal, when not empty
        int status;
    };
    const Case cases[] = {
        {"-p", {"-p", U("pa ss 密码")}, {}, 0},
        {"file", {"--password-file", tmp.path() + "/pw"}, {}, 0},
        {"typed", {}, {U("pa ss 密码").toUtf8()}, 0},
        {"-p wrong", {"-p", "wrong"}, {}, 1},
        {"typed wrong", {}, {"wrong"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(T).removeRecursively();
        QDir().mkpath(T);
        const QStringList args = QStringList{"unzip", "-t", T} + c.args + QStringList{archive};
        QByteArray shown;
        CliResult result;
        const int status = c.typed.isEmpty() ? (result = RunCli(args)).status : RunOnTerminal(args, c.typed, &shown);
        EXPECT_EQ(status, c.status) << shown.toStdString();
        EXPECT_EQ(testutil::Exists(T + "/a.txt"), c.status == 0);
        EXPECT_EQ(ReadFile(T + "/plain.txt"), "plain");
        if (c.status != 0 && c.typed.isEmpty()) {
            EXPECT_TRUE(result.err.contains(U("成员a.txt的密码不正确").toUtf8())) << result.err.toStdString();
        }
        if (c.status == 0) {
            EXPECT_EQ(ReadFile(T + "/a.txt"), ReadFile(file));
        }
        EXPECT_FALSE(shown.contains("pa ss"));
    }
}

TEST_F(CliBesideWindow, ExitStatusesAndTheirLines)
{
    const QString a = S + "/a.txt";
    struct Case {
        QStringList args;
        int status;
        const char* errorHolds;  // a piece of the line on standard error
    };
    const Case cases[] = {
        {{}, 2, "缺少命令"},
        {{"frobnicate"}, 2, "未知命令"},
        {{"encrypt", "-p", "x", a}, 2, "-t TARGET"},
        {{"encrypt", "-t", T, "-p", "x", "-r", S, a}, 2, "只能用一个"},
        {{"zip", "--rule", "x", "a.zip", a}, 2, "没有选项 --rule"},
        {{"zip", "-p", "x", "--ask-password", "a.zip", a}, 2, "--ask-password 不与"},
        {{"zip", "-p", U("a😀"), T + "/a.zip", a}, 2, "无法表示的字符：😀"},
        {{"encrypt", "-t", T + "/missing", "-p", "x", a}, 2, "目标文件夹不存在"},
        {{"list", "-r", S + "/missing"}, 2, "不存在"},
        {{"encrypt", "-t", T, "-p", "", a}, 2, "密码为空值"},
        {{"encrypt", "-t", T, "-p", U("a😀"), a}, 2, "无法表示的字符：😀"},
        {{"rename", "--rule", "img[1", a}, 2, "发生如下错误"},
        {{"encrypt", "-t", T, "-p", "x", a, S + "/gone.txt", S + "/sub"}, 1, "gone.txt"},
        {{"unzip", "-t", T, S + "/sub/deeper/y.zip"}, 1, "y.zip"},
        {{"encrypt", "-t", T, "-p", "x", a}, 0, ""},
        {{"list", "-v", "-o", T + "/l.csv", a}, 0, "src/a.txt\n"},  // -v names each file
        {{"rename", "--rule", "same[1][0]", a, S + "/big.dat", S + "/sub/x.txt"}, 0, ""},
        {{"rename", "--replace", "same1", "with,comma", "--first", S + "/same1.txt"}, 1, "same1.txt"},
        {{"--version"}, 0, ""},
        {{"unzip", "--help"}, 0, ""},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.errorHolds)) << c.args.join(' ').toStdString() << "\n" << r.err.toStdString();
        EXPECT_FALSE(r.err.contains('\r')) << "a progress line where no terminal is";
    }
    // A FIFO in a tree is named on standard error and left out; no failure.
    ASSERT_EQ(::mkfifo(QFile::encodeName(S + "/sub/pipe").constData(), 0600), 0);
    const CliResult fifo = RunCli({"zip", T + "/fifo.zip", "-r", S});
    EXPECT_EQ(fifo.status, 0) << fifo.err.toStdString();
    EXPECT_TRUE(fifo.err.contains("pipe：不是普通文件")) << fifo.err.toStdString();
    // A refused batch left its files alone; the one before it renamed three.
    EXPECT_TRUE(testutil::Exists(S + "/same1.txt"));
    EXPECT_TRUE(testutil::Exists(S + "/same1.dat"));
}

}  // namespace

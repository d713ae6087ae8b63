// System errors provoked for real reach the user in Chinese, in the window's
// boxes and on velmora-cli's standard error alike, whatever the C locale.
#include "Dialogs.h"
#include "ErrnoText.h"
#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "un_Main.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using windowtest::RunCli;

namespace {

constexpr uid_t kNobody = 65534;

class ErrorTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        S = tmp.path() + QStringLiteral("/源");
        T = tmp.path() + QStringLiteral("/目标");
        QDir().mkpath(S);
        QDir().mkpath(T);
        testutil::WriteFile(S + QStringLiteral("/大"), testutil::Noise(300000, 1));
        testutil::WriteFile(tmp.path() + "/pw", "pw\n");
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(QFile::encodeName(T).constData(), MNT_DETACH);
    }

    // T becomes a tmpfs of 64 KiB, too small for the 300 KB file; false where mounting is not allowed.
    bool FillableTarget()
    {
        mounted = ::mount("tmpfs", QFile::encodeName(T).constData(), "tmpfs", 0, "size=64k") == 0;
        return mounted;
    }

    // The last rename batch renamed 甲.文 to 乙.文, and a new 甲.文 took the old name since.
    void OldNameTaken()
    {
        QFile::remove(S + QStringLiteral("/乙.文"));
        testutil::WriteFile(S + QStringLiteral("/甲.文"), "a");
        const auto r = RunCli({"rename", "--replace", QStringLiteral("甲"), QStringLiteral("乙"), S + QStringLiteral("/甲.文")});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        testutil::WriteFile(S + QStringLiteral("/甲.文"), "new");
    }

    // The window's boxes after one batch on the checked file (or undo).
    QString WindowBoxes(const std::function<void(Tfrm_main&, ScriptedDialogs&)>& run)
    {
        ScriptedDialogs dialogs;
        Tfrm_main w(dialogs);
        run(w, dialogs);
        QString text;
        for (const ShownBox& box : dialogs.shown)
            text += box.text + '\n' + box.details;
        return text;
    }
    static void EncryptChecked(Tfrm_main& w, ScriptedDialogs& d, const QString& file, const QString& target)
    {
        auto* item = new QListWidgetItem(file, w.Lst_FIles_1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        w.edt_Password->setText("pw");
        d.folderAnswers.push_back(target);
        w.btn_EncryptSelectedFiles->click();
    }

    // What is left of a text once the test's own paths and the program's name are taken out: no word of English.
    void ExpectNoEnglish(QString text, const char* where) const
    {
        text.remove(tmp.path()).remove(QStringLiteral("velmora-cli"));
        const auto english = QRegularExpression(QStringLiteral("[A-Za-z]{3,}")).match(text);
        EXPECT_FALSE(english.hasMatch()) << where << ": " << text.toStdString();
    }

    QTemporaryDir tmp;
    QString S, T;
    bool mounted = false;
};

// velmora-cli run as an unprivileged user: setresuid in the child before exec.
windowtest::CliResult RunCliAsNobody(const QStringList& args)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    std::vector<QByteArray> bytes{QFile::encodeName(windowtest::Cli())};
    for (const QString& a : args)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDERR_FILENO);
        if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)
            ::_exit(99);
        ::execv(argv[0], argv.data());
        ::_exit(98);
    }
    ::close(pipeFds[1]);
    QByteArray err;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}, err};
}

}  // namespace

TEST_F(ErrorTexts, VanishedFileFullDiskAndTakenNameInTheWindowAndOnStandardError)
{
    const QString gone = S + QStringLiteral("/缺失");
    const QString big = S + QStringLiteral("/大");
    struct Case {
        const char* name;
        int code;
        std::function<bool()> prepare;  // false: this machine can't provoke it
        std::function<void(Tfrm_main&, ScriptedDialogs&)> window;
        QStringList cli;
    };
    const Case cases[] = {
        {"a vanished file", ENOENT, [] { return true; },
         [&](Tfrm_main& w, ScriptedDialogs& d) { EncryptChecked(w, d, gone, T); },
         {"encrypt", "-t", T, "--password-file", tmp.path() + "/pw", gone}},
        {"a full tmpfs", ENOSPC, [&] { return FillableTarget(); },
         [&](Tfrm_main& w, ScriptedDialogs& d) { EncryptChecked(w, d, big, T); },
         {"encrypt", "-t", T, "--password-file", tmp.path() + "/pw", big}},
        {"an existing name", EEXIST, [&] { OldNameTaken(); return true; },
         [](Tfrm_main& w, ScriptedDialogs&) { w.UndoLastRenameClick(); },
         {"undo-rename"}},
    };
    for (const Case& c : cases) {
        if (!c.prepare()) {
            std::cout << "SKIPPED " << c.name << ": this machine refuses to mount a tmpfs\n";
            continue;
        }
        const QString expected = QString::fromStdString(platform::ErrnoText(c.code));
        const QString boxes = WindowBoxes(c.window);
        EXPECT_TRUE(boxes.contains(expected)) << c.name << ": " << boxes.toStdString();
        ExpectNoEnglish(boxes, c.name);

        if (c.code == EEXIST)
            OldNameTaken();  // the window's undo cleared the journal
        const QString err = QString::fromUtf8(RunCli(c.cli).err);
        EXPECT_TRUE(err.contains(expected)) << c.name << ": " << err.toStdString();
        ExpectNoEnglish(err, c.name);
    }
}

TEST_F(ErrorTexts, UnprivilegedUserInASetresuidChildReadsPermissionDeniedInChinese)
{
    const QString secret = S + QStringLiteral("/秘密");
    testutil::WriteFile(secret, "x");
    ::chmod(QFile::encodeName(secret).constData(), 0600);
    ::chmod(QFile::encodeName(tmp.path()).constData(), 0755);
    ::chmod(QFile::encodeName(T).constData(), 0777);
    ::chmod(QFile::encodeName(tmp.path() + "/pw").constData(), 0644);
    const auto r = RunCliAsNobody({"encrypt", "-t", T, "--password-file", tmp.path() + "/pw", secret});
    const QString err = QString::fromUtf8(r.err);
    EXPECT_EQ(r.status, 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("权限不够"))) << err.toStdString();
    ExpectNoEnglish(err, "setresuid child");
}

TEST(ErrnoTexts, AnErrorWithoutAChineseTextIsTheCLibrarysWithItsNumber)
{
    const std::string other = platform::ErrnoText(EHOSTUNREACH);
    EXPECT_NE(other.find("（错误号 " + std::to_string(EHOSTUNREACH) + "）"), std::string::npos) << other;
}

// The six compress and extract buttons driven on the real window, with the
// dialogs answered from a script. Archives are written and read back by
// independent tools (Info-ZIP, Python's zipfile) as well as by our facility.
#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "TestUtil.h"
#include "ZipArchive.h"
#include "un_Main.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <set>
#include <vector>

using testutil::Exists;
using testutil::Noise;
using testutil::ReadFile;

namespace {

// Runs a program without a shell; its exit code, its standard output in *out.
int RunArgs(const QString& program, const QStringList& args, QString* out = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(-1);
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The system's Python when there is one: a version-manager shim costs seconds a start.
QString Python()
{
    return QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                 : QStringLiteral("python3");
}

// Member names as Info-ZIP reads them, in archive order.
QStringList MembersByUnzip(const QString& archive)
{
    QString out;
    RunArgs(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive}, &out);
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int MemberCountByPython(const QString& archive)
{
    QString out;
    const int rc = RunArgs(Python(),
                           {QStringLiteral("-c"),
                            QStringLiteral("import zipfile,sys; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))"),
                            archive},
                           &out);
    return rc == 0 ? out.trimmed().toInt() : -1;
}

// Writes an archive with Python's zipfile: name/content pairs, any method it knows.
void PythonZip(const QString& archive, const QList<QPair<QString, QByteArray>>& members,
               const QString& method = QStringLiteral("ZIP_DEFLATED"))
{
    QTemporaryDir staging;
    QDir().mkpath(QFileInfo(archive).absolutePath());
    QStringList args{QStringLiteral("-c"),
                     QStringLiteral("import zipfile,sys\n"
                                    "z=zipfile.ZipFile(sys.argv[1],'w',getattr(zipfile,sys.argv[2]))\n"
                                    "for n,f in zip(sys.argv[3::2],sys.argv[4::2]): z.writestr(n,open(f,'rb').read())\n"
                                    "z.close()"),
                     archive, method};
    for (int i = 0; i < members.size(); ++i) {
        const QString source = staging.path() + QStringLiteral("/m%1").arg(i);
        testutil::WriteFile(source, members[i].second);
        args << members[i].first << source;
    }
    ASSERT_EQ(RunArgs(Python(), args), 0) << archive.toStdString();
}

// Every file of a tree with its bytes, to compare trees byte for byte.
QMap<QString, QByteArray> Tree(const QString& folder)
{
    QMap<QString, QByteArray> tree;
    for (const QString& rel : testutil::RelativeFiles(folder))
        tree[rel] = ReadFile(folder + QLatin1Char('/') + rel);
    return tree;
}

class ZipBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        if (!testutil::HaveTool(QStringLiteral("unzip")) || !testutil::HaveTool(QStringLiteral("python3")))
            GTEST_SKIP() << "unzip or python3 missing: the archives can't be checked independently";
        w.show();
    }
    void TearDown() override { SetPumpHook({}); }

    QString At(const QString& rel) const { return tmp.path() + QLatin1Char('/') + rel; }
    void Write(const QString& rel, const QByteArray& bytes) { testutil::WriteFile(At(rel), bytes); }

    // Entries added as the folder services add them: checkable, checked unless said.
    static void Fill(QListWidget* list, const QStringList& paths, const QList<bool>& checked = {})
    {
        for (int i = 0; i < paths.size(); ++i) {
            auto* item = new QListWidgetItem(paths[i], list);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(i < checked.size() && !checked[i] ? Qt::Unchecked : Qt::Checked);
        }
    }
    // The folder-wide handlers only read the text; this spares the page reload.
    static void SetFolderText(QLineEdit* edit, const QString& text)
    {
        const QSignalBlocker quiet(edit);
        edit->setText(text);
    }
    bool AllButtonsEnabled() const
    {
        for (auto* b : w.findChildren<QPushButton*>())
            if (!b->isEnabled())
                return false;
        return true;
    }

    QTemporaryDir tmp;
    ScriptedDialogs dialogs;
    Tfrm_main w{dialogs};
};

const QString kTitle = QStringLiteral("将文件列表保存到文件");

TEST_F(ZipBatch, FolderArchiveHoldsRelativeMembersOnlyAndGetsZipAppended)
{
    Write(QStringLiteral("D/x.txt"), "top file\n");
    Write(QStringLiteral("D/s/y.txt"), Noise(70000, 1));
    QDir().mkpath(At(QStringLiteral("D/empty")));
    SetFolderText(w.edt_Folder, At(QStringLiteral("D")));
    dialogs.saveAnswers.push_back(At(QStringLiteral("a.zip")));

    w.btn_ZipFolder->click();

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, kTitle);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("*.zip|*.zip"));
    EXPECT_FALSE(Exists(At(QStringLiteral("a.zip"))));
    const QString archive = At(QStringLiteral("a.zip.zip"));
    QStringList members = MembersByUnzip(archive);
    members.sort();
    EXPECT_EQ(members, (QStringList{QStringLiteral("empty/"), QStringLiteral("s/y.txt"), QStringLiteral("x.txt")}));
    EXPECT_EQ(RunArgs(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}), 0);
    ZipArchive::ExtractZipFile(archive.toStdString(), At(QStringLiteral("back")).toStdString(), {});
    EXPECT_EQ(Tree(At(QStringLiteral("back"))), Tree(At(QStringLiteral("D"))));
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("文件夹") + At(QStringLiteral("D")) + QStringLiteral("压缩成功！"));
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ZipBatch, FolderCompressionFailureAndCancel)
{
    w.StaticText1->setText(QStringLiteral("before"));
    SetFolderText(w.edt_Folder, At(QStringLiteral("missing")));
    w.btn_ZipFolder->click();  // cancelled: nothing written, status kept
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("before"));
    EXPECT_TRUE(testutil::RelativeFiles(tmp.path()).isEmpty());

    dialogs.saveAnswers.push_back(At(QStringLiteral("out")));
    w.btn_ZipFolder->click();
    ASSERT_EQ(dialogs.Texts(ShownBox::Message).size(), 1);
    EXPECT_FALSE(dialogs.Texts(ShownBox::Message)[0].isEmpty());
    EXPECT_EQ(dialogs.shown.back().caption, ApplicationTitle());
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("文件夹压缩发生错误,程序终止"));
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ZipBatch, SelectedArchiveHoldsCheckedEntriesUnderBareNamesInListOrder)
{
    Write(QStringLiteral("b/two.bin"), Noise(100000, 2));
    Write(QStringLiteral("a/one.txt"), "one\n");
    Write(QStringLiteral("a/skip.txt"), "not checked\n");
    Fill(w.Lst_FIles_1, {At(QStringLiteral("b/two.bin")), At(QStringLiteral("a/skip.txt")), At(QStringLiteral("a/one.txt"))},
         {true, false, true});
    dialogs.saveAnswers.push_back(At(QStringLiteral("sel")));

    w.btn_ZipSelected->click();

    const QString archive = At(QStringLiteral("sel.zip"));
    EXPECT_EQ(MembersByUnzip(archive), (QStringList{QStringLiteral("two.bin"), QStringLiteral("one.txt")}));
    EXPECT_EQ(RunArgs(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}), 0);
    ZipArchive::ExtractZipFile(archive.toStdString(), At(QStringLiteral("back")).toStdString(), {});
    EXPECT_EQ(ReadFile(At(QStringLiteral("back/two.bin"))), ReadFile(At(QStringLiteral("b/two.bin"))));
    EXPECT_EQ(ReadFile(At(QStringLiteral("back/one.txt"))), QByteArray("one\n"));
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("列表文件压缩成功！"));
    EXPECT_EQ(dialogs.shown.at(0).text, QStringLiteral("*.zip|*.zip"));
}

// A password in page 1's key edit: both compress buttons ask first whether
// to encrypt with it. Yes gives an archive that opens with that password
// only; No and an empty edit give the plain archive without a box; a password
// the encryption batches refuse starts nothing.
TEST_F(ZipBatch, PasswordInTheKeyEditOffersAnEncryptedArchive)
{
    if (!testutil::HaveTool(QStringLiteral("bsdtar")))
        GTEST_SKIP() << "bsdtar missing";
    Write(QStringLiteral("D/x.txt"), "top file\n");
    Write(QStringLiteral("D/big.bin"), Noise(1500000, 4));
    SetFolderText(w.edt_Folder, At(QStringLiteral("D")));
    Fill(w.Lst_FIles_1, {At(QStringLiteral("D/x.txt")), At(QStringLiteral("D/big.bin"))});
    const QString question = QStringLiteral("是否使用密钥框中的密码加密压缩文件？（AES-256，7-Zip、WinRAR 等可以解压）");
    struct Case {
        const char* name;
        QPushButton* button;
        QString password;
        bool yes;
        const char* outcome;  // "encrypted", "plain" or "refused"
    };
    const Case cases[] = {
        {"folder yes", w.btn_ZipFolder, QStringLiteral("pa ss 密码"), true, "encrypted"},
        {"selected yes", w.btn_ZipSelected, QStringLiteral("pa ss 密码"), true, "encrypted"},
        {"folder no", w.btn_ZipFolder, QStringLiteral("pw"), false, "plain"},
        {"selected empty", w.btn_ZipSelected, QString(), true, "plain"},
        {"folder refused", w.btn_ZipFolder, QStringLiteral("a😀"), true, "refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = At(QString::fromUtf8(c.name).replace(QLatin1Char(' '), QLatin1Char('_')));
        w.edt_Password->setText(c.password);
        dialogs.shown.clear();
        dialogs.yesNoAnswers = {c.yes};
        dialogs.saveAnswers = {name};
        c.button->click();
        const QString archive = name + QStringLiteral(".zip");
        const QString outcome = QString::fromLatin1(c.outcome);
        QList<ShownBox::Kind> kinds;
        for (const ShownBox& b : dialogs.shown)
            kinds << b.kind;
        if (c.password.isEmpty())
            EXPECT_EQ(kinds, QList<ShownBox::Kind>{ShownBox::SaveFile});
        else
            EXPECT_EQ(dialogs.Texts(ShownBox::YesNo), QStringList{question});
        if (outcome == QLatin1String("refused")) {
            EXPECT_EQ(kinds, (QList<ShownBox::Kind>{ShownBox::YesNo, ShownBox::Message}));
            EXPECT_FALSE(Exists(archive));
            continue;
        }
        const bool encrypted = outcome == QLatin1String("encrypted");
        EXPECT_EQ(RunArgs(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}) == 0, !encrypted);
        const QString back = name + QStringLiteral("_back"), wrong = name + QStringLiteral("_wrong");
        QDir().mkpath(back);
        QDir().mkpath(wrong);
        const QString given = c.password.isEmpty() ? QStringLiteral("unused") : c.password;
        EXPECT_EQ(RunArgs(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), archive, QStringLiteral("--passphrase"),
                                                     given + QStringLiteral("x"), QStringLiteral("-C"), wrong}) == 0,
                  !encrypted);
        ASSERT_EQ(RunArgs(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), archive, QStringLiteral("--passphrase"),
                                                     given, QStringLiteral("-C"), back}), 0);
        EXPECT_EQ(Tree(back), Tree(At(QStringLiteral("D"))));
        EXPECT_TRUE(AllButtonsEnabled());
    }
}

// Encrypted archives ask for their password through the box, again after a
// wrong one; the batch's last right password opens the next archive without
// asking; a cancelled box skips that archive, names it, and the batch goes on.
TEST_F(ZipBatch, EncryptedArchivesAskForThePasswordInTheBatch)
{
    const QStringList names{"a1", "a2", "a3", "plain"};
    const QStringList passwords{"密码 1", "密码 1", "other", ""};
    QStringList archives;
    for (int i = 0; i < names.size(); ++i) {
        Write(names[i] + QStringLiteral("/") + names[i] + QStringLiteral(".txt"), Noise(5000 + i, i));
        ZipArchive z;
        z.SetPassword(passwords[i].toStdString());
        archives << At(names[i] + QStringLiteral(".zip"));
        z.Open(archives.back().toStdString(), ZipMode::Write);
        z.Add(At(names[i] + QStringLiteral("/") + names[i] + QStringLiteral(".txt")).toStdString());
        z.Close();
    }
    Fill(w.Lst_FIles_2, archives);
    dialogs.passwordAnswers = {QStringLiteral("wrong"), QStringLiteral("密码 1"), std::nullopt};
    w.btn_UnZipSelected_same->click();

    EXPECT_EQ(dialogs.Texts(ShownBox::Password),
              (QStringList{QStringLiteral("压缩文件“a1.zip”已加密，请输入解压密码："), QStringLiteral("密码不正确，请重新输入："),
                           QStringLiteral("压缩文件“a3.zip”已加密，请输入解压密码：")}));
    for (const QString& name : names)
        EXPECT_EQ(Exists(At(name + QStringLiteral(".txt"))), name != QLatin1String("a3")) << name.toStdString();
    EXPECT_EQ(ReadFile(At(QStringLiteral("a2.txt"))), ReadFile(At(QStringLiteral("a2/a2.txt"))));
    const QStringList messages = dialogs.Texts(ShownBox::Message);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("a3.zip"))) << messages[0].toStdString();
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("列表文件解压成功！"));
}

TEST_F(ZipBatch, SelectedCompressionWithNothingCheckedOrAnEmptyListStillWritesAnArchive)
{
    Write(QStringLiteral("f.txt"), "f");
    w.StaticText1->setText(QStringLiteral("before"));
    dialogs.saveAnswers.push_back(At(QStringLiteral("empty")));
    w.btn_ZipSelected->click();  // empty list: archive written, status kept
    EXPECT_EQ(MemberCountByPython(At(QStringLiteral("empty.zip"))), 0);
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("before"));

    Fill(w.Lst_FIles_1, {At(QStringLiteral("f.txt"))}, {false});
    dialogs.saveAnswers.push_back(At(QStringLiteral("none")));
    w.btn_ZipSelected->click();
    EXPECT_EQ(MemberCountByPython(At(QStringLiteral("none.zip"))), 0);
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("列表文件压缩成功！"));
}

TEST_F(ZipBatch, SelectedCompressionOfAMissingEntryEndsWithReportAndKeepsTheEarlierArchive)
{
    Write(QStringLiteral("x.txt"), "x");
    Write(QStringLiteral("z.txt"), "z");
    Write(QStringLiteral("part.zip"), "the earlier archive");
    const QString gone = At(QStringLiteral("gone.txt"));
    Fill(w.Lst_FIles_1, {At(QStringLiteral("x.txt")), gone, At(QStringLiteral("z.txt"))});
    dialogs.saveAnswers.push_back(At(QStringLiteral("part")));

    w.btn_ZipSelected->click();

    const QStringList errors = dialogs.Texts(ShownBox::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("压缩文件") + gone + QStringLiteral("发生错误，错误原因:")))
        << errors[0].toStdString();
    // No partial archive replaces the earlier one.
    EXPECT_EQ(testutil::ReadFile(At(QStringLiteral("part.zip"))), QByteArray("the earlier archive"));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).size(), 3) << "no temporary file is left";
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ZipBatch, FolderExtractionBesideEachArchiveSkipsOtherCasesOfZip)
{
    PythonZip(At(QStringLiteral("T/p.zip")), {{QStringLiteral("p.txt"), "p"}, {QStringLiteral("d/deep.bin"), Noise(50000, 3)}});
    PythonZip(At(QStringLiteral("T/sub/q.zip")), {{QStringLiteral("q.txt"), "q"}});
    PythonZip(At(QStringLiteral("T/A.ZIP")), {{QStringLiteral("upper.txt"), "u"}});
    PythonZip(At(QStringLiteral("T/c.Zip")), {{QStringLiteral("mixed.txt"), "m"}});
    SetFolderText(w.edt_Folder_2, At(QStringLiteral("T")));

    w.btn_UnZipAllSelected_same->click();

    EXPECT_EQ(ReadFile(At(QStringLiteral("T/p.txt"))), QByteArray("p"));
    EXPECT_EQ(ReadFile(At(QStringLiteral("T/d/deep.bin"))), Noise(50000, 3));
    EXPECT_EQ(ReadFile(At(QStringLiteral("T/sub/q.txt"))), QByteArray("q"));
    EXPECT_FALSE(Exists(At(QStringLiteral("T/upper.txt"))));
    EXPECT_FALSE(Exists(At(QStringLiteral("T/mixed.txt"))));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("文件夹") + At(QStringLiteral("T")) + QStringLiteral("解压成功！"));

    w.btn_UnZipAllSelected_same->click();  // again: the files are replaced silently
    EXPECT_EQ(ReadFile(At(QStringLiteral("T/p.txt"))), QByteArray("p"));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ZipBatch, FolderExtractionIntoChosenFolderReportsABadArchiveAndGoesOn)
{
    Write(QStringLiteral("S/bad.zip"), "this is no archive");
    PythonZip(At(QStringLiteral("S/one.zip")), {{QStringLiteral("readme.txt"), "first"}, {QStringLiteral("1.txt"), "1"}});
    PythonZip(At(QStringLiteral("S/two.zip")), {{QStringLiteral("readme.txt"), "second"}});
    SetFolderText(w.edt_Folder_2, At(QStringLiteral("S")));
    dialogs.folderAnswers.push_back(At(QStringLiteral("out")));

    w.btn_UnZipAllToSpecified->click();

    ASSERT_GE(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::PickFolder);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("选择解压保存目录或创建新保存目录"));
    EXPECT_TRUE(dialogs.shown[0].offerNewFolder);
    EXPECT_EQ(dialogs.Texts(ShownBox::Message).size(), 1);  // bad.zip, in a plain box
    EXPECT_EQ(dialogs.shown[1].caption, ApplicationTitle());
    EXPECT_EQ(Tree(At(QStringLiteral("out"))),
              (QMap<QString, QByteArray>{{QStringLiteral("1.txt"), "1"}, {QStringLiteral("readme.txt"), "second"}}));
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("文件夹") + At(QStringLiteral("S")) + QStringLiteral("解压成功！"));
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ZipBatch, FolderExtractionWithoutFolderCancelledOrMissing)
{
    w.StaticText1->setText(QStringLiteral("before"));
    w.btn_UnZipAllToSpecified->click();  // no folder text: not even the picker
    EXPECT_TRUE(dialogs.shown.empty());
    SetFolderText(w.edt_Folder_2, At(QStringLiteral("missing")));
    w.btn_UnZipAllToSpecified->click();  // picker cancelled
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("before"));

    w.btn_UnZipAllSelected_same->click();
    EXPECT_EQ(dialogs.Texts(ShownBox::Message).size(), 1);
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("文件夹解压发生错误,程序终止"));
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ZipBatch, SelectedExtractionTakesCheckedLowerCaseZipEntriesInListOrder)
{
    PythonZip(At(QStringLiteral("x/p.zip")), {{QStringLiteral("p.txt"), "p"}, {QStringLiteral("sub/"), ""}});
    PythonZip(At(QStringLiteral("y/q.zip")), {{QStringLiteral("q.txt"), "q"}});
    PythonZip(At(QStringLiteral("y/r.zip")), {{QStringLiteral("r.txt"), "r"}});
    PythonZip(At(QStringLiteral("y/A.ZIP")), {{QStringLiteral("upper.txt"), "u"}});
    Fill(w.Lst_FIles_2, {At(QStringLiteral("x/p.zip")), At(QStringLiteral("y/q.zip")), At(QStringLiteral("y/r.zip")),
                         At(QStringLiteral("y/A.ZIP"))},
         {true, true, false, true});

    w.btn_UnZipSelected_same->click();

    EXPECT_EQ(ReadFile(At(QStringLiteral("x/p.txt"))), QByteArray("p"));
    EXPECT_TRUE(QFileInfo(At(QStringLiteral("x/sub"))).isDir());
    EXPECT_EQ(ReadFile(At(QStringLiteral("y/q.txt"))), QByteArray("q"));
    EXPECT_FALSE(Exists(At(QStringLiteral("y/r.txt"))));
    EXPECT_FALSE(Exists(At(QStringLiteral("y/upper.txt"))));
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("列表文件解压成功！"));

    // Into one chosen folder the later entry of the list wins, whatever the names.
    PythonZip(At(QStringLiteral("one.zip")), {{QStringLiteral("readme.txt"), "first"}});
    PythonZip(At(QStringLiteral("two.zip")), {{QStringLiteral("readme.txt"), "second"}});
    w.Lst_FIles_2->clear();
    Fill(w.Lst_FIles_2, {At(QStringLiteral("two.zip")), At(QStringLiteral("one.zip"))});
    dialogs.folderAnswers.push_back(At(QStringLiteral("out")));
    w.btn_UnZipSelectedToSpecified->click();
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("选择解压保存目录或创建新保存目录"));
    EXPECT_EQ(ReadFile(At(QStringLiteral("out/readme.txt"))), QByteArray("first"));
}

TEST_F(ZipBatch, SelectedExtractionEndsAtTheFirstBadArchive)
{
    Write(QStringLiteral("bad.zip"), "this is no archive");
    // A member whose method (98, PPMd) has no codec here.
    PythonZip(At(QStringLiteral("bz.zip")), {{QStringLiteral("b.txt"), "PPMd is not read here"}});
    QByteArray ppmd = ReadFile(At(QStringLiteral("bz.zip")));
    ppmd[ppmd.indexOf("PK\x03\x04") + 8] = 98;
    ppmd[ppmd.indexOf("PK\x01\x02") + 10] = 98;
    testutil::WriteFile(At(QStringLiteral("bz.zip")), ppmd);
    PythonZip(At(QStringLiteral("good.zip")), {{QStringLiteral("g.txt"), "g"}});
    w.StaticText1->setText(QStringLiteral("before"));

    // No archive at all: the facility's own message as the failure report.
    Fill(w.Lst_FIles_2, {At(QStringLiteral("bad.zip")), At(QStringLiteral("good.zip"))});
    w.btn_UnZipSelected_same->click();
    ASSERT_EQ(dialogs.Texts(ShownBox::Error).size(), 1);
    EXPECT_FALSE(dialogs.Texts(ShownBox::Error)[0].startsWith(QStringLiteral("解压文件")));
    EXPECT_TRUE(dialogs.Texts(ShownBox::Error)[0].startsWith(QStringLiteral("不是可读取的 ZIP 压缩文件：")))
        << dialogs.Texts(ShownBox::Error)[0].toStdString();
    EXPECT_FALSE(Exists(At(QStringLiteral("g.txt"))));
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("before"));
    EXPECT_TRUE(AllButtonsEnabled());

    // An archive whose member can't be extracted: the file's path and the reason.
    w.Lst_FIles_2->clear();
    Fill(w.Lst_FIles_2, {At(QStringLiteral("bz.zip")), At(QStringLiteral("good.zip"))});
    w.btn_UnZipSelected_same->click();
    ASSERT_EQ(dialogs.Texts(ShownBox::Error).size(), 2);
    EXPECT_TRUE(dialogs.Texts(ShownBox::Error)[1].startsWith(QStringLiteral("解压文件") + At(QStringLiteral("bz.zip"))
                                                              + QStringLiteral("发生错误，错误原因:")));
    EXPECT_TRUE(dialogs.Texts(ShownBox::Error)[1].contains(QStringLiteral("使用的压缩方法 PPMd（编号 98）不受支持")))
        << dialogs.Texts(ShownBox::Error)[1].toStdString();
    EXPECT_FALSE(Exists(At(QStringLiteral("g.txt"))));

    // A member failing its CRC between two good ones: they extract, it is named and not written.
    PythonZip(At(QStringLiteral("crc.zip")),
              {{QStringLiteral("x.txt"), "x"}, {QStringLiteral("y.txt"), "yyyy"}, {QStringLiteral("z.txt"), "z"}},
              QStringLiteral("ZIP_STORED"));
    QByteArray crc = ReadFile(At(QStringLiteral("crc.zip")));
    crc[crc.indexOf("yyyy")] = 'Y';
    testutil::WriteFile(At(QStringLiteral("crc.zip")), crc);
    w.Lst_FIles_2->clear();
    Fill(w.Lst_FIles_2, {At(QStringLiteral("crc.zip")), At(QStringLiteral("good.zip"))});
    w.btn_UnZipSelected_same->click();
    ASSERT_EQ(dialogs.Texts(ShownBox::Error).size(), 3);
    EXPECT_TRUE(dialogs.Texts(ShownBox::Error)[2].contains(QStringLiteral("y.txt")))
        << dialogs.Texts(ShownBox::Error)[2].toStdString();
    EXPECT_EQ(ReadFile(At(QStringLiteral("x.txt"))), QByteArray("x"));
    EXPECT_EQ(ReadFile(At(QStringLiteral("z.txt"))), QByteArray("z"));
    EXPECT_FALSE(Exists(At(QStringLiteral("y.txt"))));
}

TEST_F(ZipBatch, ClimbingMembersAreReportedAndNothingLandsOutsideTheTarget)
{
    PythonZip(At(QStringLiteral("in/evil.zip")),
              {{QStringLiteral("ok.txt"), "ok"}, {QStringLiteral("../escaped.txt"), "out"},
               {QStringLiteral("sub/../../escaped.txt"), "out"}, {At(QStringLiteral("absolute.txt")), "abs"}});
    SetFolderText(w.edt_Folder_2, At(QStringLiteral("in")));
    dialogs.folderAnswers.push_back(At(QStringLiteral("t/target")));
    w.btn_UnZipAllToSpecified->click();
    EXPECT_EQ(dialogs.Texts(ShownBox::Message).size(), 1);
    EXPECT_TRUE(dialogs.Texts(ShownBox::Message)[0].contains(QStringLiteral("不安全的成员名")))
        << dialogs.Texts(ShownBox::Message)[0].toStdString();

    Fill(w.Lst_FIles_2, {At(QStringLiteral("in/evil.zip"))});
    w.btn_UnZipSelected_same->click();
    EXPECT_EQ(dialogs.Texts(ShownBox::Error).size(), 1);

    // Whatever the facility writes before it refuses stays below the two targets.
    const QStringList allowed{QStringLiteral("in/evil.zip"), QStringLiteral("in/ok.txt"), QStringLiteral("t/target/ok.txt")};
    for (const QString& rel : testutil::RelativeFiles(tmp.path()))
        EXPECT_TRUE(allowed.contains(rel)) << rel.toStdString();
}

struct Seen {
    QString status;
    std::int64_t max;
    std::int64_t position;
    bool onWindowThread;
};

// The callback announces the member once, then moves the bar through its bytes.
void ExpectMemberProgress(const std::vector<Seen>& seen, const QString& status, std::int64_t size)
{
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front().position, 0);
    std::set<std::int64_t> positions;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_TRUE(seen[i].onWindowThread);  // the facility may compress on workers, never report from them
        EXPECT_EQ(seen[i].status, status);
        EXPECT_EQ(seen[i].max, size);
        EXPECT_LE(seen[i].position, size);
        if (i > 0) {
            EXPECT_GE(seen[i].position, seen[i - 1].position);
        }
        positions.insert(seen[i].position);
    }
    EXPECT_GE(positions.size(), 3u);
}

TEST_F(ZipBatch, StatusAndBarFollowTheMemberInBytes)
{
    const int size = 3 * 1024 * 1024 + 5;
    Write(QStringLiteral("大文件.bin"), Noise(size, 4));
    std::vector<Seen> seen;
    SetPumpHook([&] {
        seen.push_back({w.StaticText1->text(), w.ProgressBar->Max(), w.ProgressBar->Position(),
                        QThread::currentThread() == w.thread()});
    });

    Fill(w.Lst_FIles_1, {At(QStringLiteral("大文件.bin"))});
    dialogs.saveAnswers.push_back(At(QStringLiteral("big")));
    w.btn_ZipSelected->click();
    ExpectMemberProgress(seen, QStringLiteral("正在压缩文件:大文件.bin"), size);
    EXPECT_EQ(w.CurrentFile, At(QStringLiteral("大文件.bin")));

    seen.clear();
    Fill(w.Lst_FIles_2, {At(QStringLiteral("big.zip"))});
    dialogs.folderAnswers.push_back(At(QStringLiteral("out")));
    w.btn_UnZipSelectedToSpecified->click();
    ExpectMemberProgress(seen, QStringLiteral("正在解压文件:大文件.bin"), size);
    EXPECT_EQ(w.CurrentFile, At(QStringLiteral("out/大文件.bin")));
    EXPECT_EQ(ReadFile(At(QStringLiteral("out/大文件.bin"))), Noise(size, 4));

    // The same file again is no new file: the bar moves, the status line keeps its text.
    seen.clear();
    dialogs.folderAnswers.push_back(At(QStringLiteral("out")));
    w.btn_UnZipSelectedToSpecified->click();
    ASSERT_FALSE(seen.empty());
    for (const Seen& s : seen)
        EXPECT_EQ(s.status, QStringLiteral("列表文件解压成功！"));
}

TEST_F(ZipBatch, MembersOfSeveralGigabytesStillMoveTheBarFromEmptyToFull)
{
    ZipHeader header;
    header.UncompressedSize = std::uint64_t{5} << 30;
    const auto size = static_cast<std::int64_t>(header.UncompressedSize);
    w.OnUnZipProgressEvent(nullptr, "/x/huge.bin", header, 12345);
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("正在解压文件:huge.bin"));
    EXPECT_EQ(w.ProgressBar->value(), 0);
    w.OnUnZipProgressEvent(nullptr, "/x/huge.bin", header, size / 2);
    EXPECT_NEAR(double(w.ProgressBar->value()) / w.ProgressBar->maximum(), 0.5, 0.01);
    w.OnUnZipProgressEvent(nullptr, "/x/huge.bin", header, size);
    EXPECT_EQ(w.ProgressBar->value(), w.ProgressBar->maximum());
}

TEST_F(ZipBatch, StopEndsAFolderExtractionAfterTheCurrentArchive)
{
    for (int i = 1; i <= 3; ++i)
        PythonZip(At(QStringLiteral("S/a%1.zip").arg(i)), {{QStringLiteral("m%1.bin").arg(i), Noise(300000, i)}});
    SetFolderText(w.edt_Folder_2, At(QStringLiteral("S")));
    w.StopFlag = -1;  // a stop pressed while idle is cleared by the next batch
    bool pressed = false, ownStopEnabled = false, otherStopEnabled = true;
    SetPumpHook([&] {
        if (pressed)
            return;
        pressed = true;
        ownStopEnabled = w.btn_Stop_2->isEnabled();
        otherStopEnabled = w.btn_Stop->isEnabled();
        w.btn_Stop_2->click();
        SetFolderText(w.edt_Folder_2, At(QStringLiteral("B")));  // typed meanwhile: the report still names S
    });
    dialogs.folderAnswers.push_back(At(QStringLiteral("out")));
    w.btn_UnZipAllToSpecified->click();

    EXPECT_TRUE(ownStopEnabled);
    EXPECT_FALSE(otherStopEnabled);
    EXPECT_EQ(Tree(At(QStringLiteral("out"))), (QMap<QString, QByteArray>{{QStringLiteral("m1.bin"), Noise(300000, 1)}}));
    EXPECT_EQ(w.StaticText1->text(), QStringLiteral("文件夹") + At(QStringLiteral("S")) + QStringLiteral("解压成功！"));

    SetPumpHook({});
    SetFolderText(w.edt_Folder_2, At(QStringLiteral("S")));
    dialogs.folderAnswers.push_back(At(QStringLiteral("out")));
    w.btn_UnZipAllToSpecified->click();  // the next batch starts clear and takes every archive
    EXPECT_EQ(testutil::RelativeFiles(At(QStringLiteral("out"))).size(), 3);
}

TEST_F(ZipBatch, AFolderTypedDuringASelectedBatchIsLoadedAfterIt)
{
    PythonZip(At(QStringLiteral("A/a1.zip")), {{QStringLiteral("one.bin"), Noise(300000, 5)}});
    PythonZip(At(QStringLiteral("A/a2.zip")), {{QStringLiteral("two.txt"), "2"}});
    Write(QStringLiteral("B/other.txt"), "b");
    w.edt_Folder_2->setText(At(QStringLiteral("A")));  // the real page reload
    ASSERT_EQ(w.Lst_FIles_2->count(), 2);
    bool typed = false;
    SetPumpHook([&] {
        if (!typed) {
            typed = true;
            w.edt_Folder_2->setText(At(QStringLiteral("B")));
        }
    });
    w.btn_UnZipSelected_same->click();

    EXPECT_TRUE(typed);
    EXPECT_EQ(ReadFile(At(QStringLiteral("A/one.bin"))), Noise(300000, 5));
    EXPECT_EQ(ReadFile(At(QStringLiteral("A/two.txt"))), QByteArray("2"));
    ASSERT_EQ(w.Lst_FIles_2->count(), 1);
    EXPECT_EQ(w.Lst_FIles_2->item(0)->text(), At(QStringLiteral("B/other.txt")));
}

}  // namespace

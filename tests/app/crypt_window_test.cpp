// The four encrypt and decrypt buttons driven on the real window, dialogs
// answered from a script. Encrypted files are checked with OpenSSL's DES as
// an independent oracle; decrypted files against the originals.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "TestUtil.h"
#include "un_Main.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <sys/resource.h>

using testutil::Exists;
using testutil::Noise;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

const QString kConfirmText = QStringLiteral(
    "1、请注意保存原文件，以备加密失败后尽快恢复；2、被加密文件不要超过150Mb;3、加密过程中注意耐心等待，不要点击程序。"
    "4、注意保存密钥，丢失密钥无法找回。对以上事项了解点\"是\"继续进行，否则退出。");
const QString kPickCaption = QStringLiteral("选择文件夹或创建新文件夹");

// A password folded into a DES key the documented way: byte i (one-based) is added to key byte i mod 8.
void FoldKey(const QByteArray& keyText, DES_cblock& key)
{
    std::fill(std::begin(key), std::end(key), 0);
    for (int i = 0; i < keyText.size(); ++i)
        key[(i + 1) % 8] = static_cast<unsigned char>(key[(i + 1) % 8] + static_cast<unsigned char>(keyText[i]));
}

QByteArray OracleCrypt(const QByteArray& in, const QByteArray& keyText, int direction)
{
    DES_cblock key;
    FoldKey(keyText, key);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&key, &schedule);
    QByteArray out(in.size(), '\0');
    for (int at = 0; at + 8 <= in.size(); at += 8) {
        DES_cblock block, result;
        std::memcpy(block, in.constData() + at, 8);
        DES_ecb_encrypt(&block, &result, &schedule, direction);
        std::memcpy(out.data() + at, result, 8);
    }
    return out;
}

// Plaintext of an encrypted file: ECB blocks, then the length as 4 bytes little-endian.
QByteArray OracleDecryptFile(const QString& path, const QByteArray& keyText)
{
    const QByteArray data = ReadFile(path);
    if (data.size() < 4 || (data.size() - 4) % 8 != 0)
        return QByteArray("<not an encrypted file>");
    const auto* tail = reinterpret_cast<const unsigned char*>(data.constData() + data.size() - 4);
    const qint64 length = tail[0] | tail[1] << 8 | tail[2] << 16 | qint64(tail[3]) << 24;
    return OracleCrypt(data.left(data.size() - 4), keyText, DES_DECRYPT).left(length);
}

void OracleEncryptFile(const QString& path, const QByteArray& plain, const QByteArray& keyText)
{
    QByteArray padded = plain;
    padded.append((8 - plain.size() % 8) % 8, '\0');
    QByteArray out = OracleCrypt(padded, keyText, DES_ENCRYPT);
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((plain.size() >> shift) & 0xFF));
    WriteFile(path, out);
}

QByteArray LogOf(const char* label, const QList<QPair<QString, QString>>& lines)
{
    QByteArray log;
    for (const auto& [source, target] : lines)
        log += (QStringLiteral("源文件:") + source + QStringLiteral(",") + QString::fromUtf8(label) + target
                + QStringLiteral("\r\n")).toUtf8();
    return log;
}

class CryptWindow : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_main> w;
    QString S, T;
    // The source tree, in the order the folder walk lists it.
    QStringList rel{"r1.txt", "z3.txt", QStringLiteral("中文.bin"), "A/a1.dat", "A/X/x1.txt", "B/b1.raw"};
    QMap<QString, QByteArray> original;

    void SetUp() override
    {
        S = tmp.path() + "/src";
        T = tmp.path() + "/out";
        const QList<QByteArray> contents{"first file\n", "z", "12345678", "", "123456789", Noise(5000, 1)};
        for (int i = 0; i < rel.size(); ++i) {
            original[rel[i]] = contents[i];
            WriteFile(S + "/" + rel[i], contents[i]);
        }
        QDir().mkpath(S + "/Empty/Deeper");  // receives no file, so no target folder
        QDir().mkpath(T);  // a picked folder exists
        w = std::make_unique<Tfrm_main>(dialogs);
        w->show();
    }
    void TearDown() override { SetPumpHook({}); }

    QStringList Sources(const QString& root) const
    {
        QStringList paths;
        for (const QString& r : rel)
            paths << root + "/" + r;
        return paths;
    }
    QList<QPair<QString, QString>> Pairs(const QStringList& sources, const QString& from, const QString& to) const
    {
        QList<QPair<QString, QString>> pairs;
        for (const QString& s : sources)
            pairs.append({s, to + s.mid(from.size())});
        return pairs;
    }
    QStringList EnabledButtons() const
    {
        QStringList names;
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->isEnabled())
                names << b->objectName();
        return names;
    }
    bool AllButtonsEnabled() const { return EnabledButtons().size() == w->findChildren<QPushButton*>().size(); }
    void SetChecks(QListWidget* list, const QList<bool>& checks)
    {
        for (int i = 0; i < checks.size(); ++i)
            list->item(i)->setCheckState(checks[i] ? Qt::Checked : Qt::Unchecked);
    }
    QStringList BoxTexts(ShownBox::Kind kind) const { return dialogs.Texts(kind); }
};

TEST_F(CryptWindow, EncryptTreeThenDecryptTreeRestoresEveryFileInNestedFolders)
{
    w->edt_Folder->setText(S);
    w->edt_Password->setText("secret1");
    dialogs.folderAnswers = {T};
    QStringList duringRun;
    QList<QPair<qint64, qint64>> progress;
    SetPumpHook([&] {
        duringRun = EnabledButtons();
        progress.append({w->ProgressBar->Position(), w->ProgressBar->Max()});
    });
    w->btn_EncryptFolders->click();

    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::YesNo);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("加密注意事项"));
    EXPECT_EQ(dialogs.shown[0].text, kConfirmText);
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::PickFolder);
    EXPECT_EQ(dialogs.shown[1].caption, kPickCaption);
    EXPECT_TRUE(dialogs.shown[1].offerNewFolder);
    EXPECT_EQ(dialogs.shown[2].kind, ShownBox::Message);
    EXPECT_EQ(dialogs.shown[2].text, QStringLiteral("加密文件保存成功！"));
    EXPECT_EQ(duringRun, QStringList{"btn_Stop"});
    EXPECT_TRUE(AllButtonsEnabled());
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("正在加密文件:b1.raw"));
    EXPECT_EQ(w->CurrentFile, S + "/B/b1.raw");
    EXPECT_EQ(progress.last(), qMakePair(qint64(6), qint64(6)));
    EXPECT_TRUE(progress.contains(qMakePair(qint64(1), qint64(6))));

    QStringList expectedFiles = rel;
    expectedFiles << "note.txt";
    expectedFiles.sort();
    EXPECT_EQ(testutil::RelativeFiles(T), expectedFiles);
    EXPECT_FALSE(Exists(T + "/Empty"));
    EXPECT_EQ(ReadFile(T + "/note.txt"), LogOf("加密文件:", Pairs(Sources(S), S, T)));
    for (const QString& r : rel) {
        EXPECT_EQ(ReadFile(T + "/" + r).size() % 8, 4) << r.toStdString();
        EXPECT_EQ(OracleDecryptFile(T + "/" + r, "secret1"), original[r]) << r.toStdString();
    }

    // Back again on the second page; the log is no encrypted file, so it goes first.
    QFile::remove(T + "/note.txt");
    const QString D = tmp.path() + "/dec";
    QDir().mkpath(D);
    dialogs.shown.clear();
    dialogs.folderAnswers = {D};
    w->edt_Folder_2->setText(T);
    w->edt_Password_2->setText("secret1");
    w->btn_DECrypt_ALl->click();

    ASSERT_EQ(dialogs.shown.size(), 2u);  // no confirmation for decrypting
    EXPECT_EQ(dialogs.shown[0].caption, kPickCaption);
    EXPECT_EQ(dialogs.shown[1].text, QStringLiteral("解密文件保存成功！"));
    EXPECT_EQ(duringRun, QStringList{"btn_Stop_2"});
    for (const QString& r : rel)
        EXPECT_EQ(ReadFile(D + "/" + r), original[r]) << r.toStdString();
    EXPECT_EQ(ReadFile(D + "/note.txt"), LogOf("解密文件:", Pairs(Sources(T), T, D)));
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("正在解密文件:b1.raw"));
}

TEST_F(CryptWindow, EncryptSelectedThenDecryptSelectedIntoFlatFoldersWithProgressByListIndex)
{
    w->edt_Folder->setText(S);
    ASSERT_EQ(w->Lst_FIles_1->count(), 3);
    SetChecks(w->Lst_FIles_1, {false, true, true});
    w->edt_Password->setText("pw");
    w->ProgressBar->SetPosition(50);
    dialogs.folderAnswers = {T};
    QList<QPair<qint64, qint64>> progress;
    QStringList duringRun;
    SetPumpHook([&] {
        duringRun = EnabledButtons();
        progress.append({w->ProgressBar->Position(), w->ProgressBar->Max()});
    });
    w->btn_EncryptSelectedFiles->click();

    EXPECT_EQ(duringRun, QStringList{"btn_Stop"});
    // The position follows the index in the whole list, the maximum counts checked entries.
    EXPECT_TRUE(progress.contains(qMakePair(qint64(2), qint64(2))));
    EXPECT_FALSE(progress.contains(qMakePair(qint64(1), qint64(2))));
    EXPECT_EQ(progress.last(), qMakePair(qint64(3), qint64(2)));
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("选中列表文件加密完成！"));
    EXPECT_EQ(testutil::RelativeFiles(T), (QStringList{"note.txt", "z3.txt", QStringLiteral("中文.bin")}));
    EXPECT_EQ(ReadFile(T + "/note.txt"),
              LogOf("加密文件:", {{S + "/z3.txt", T + "/z3.txt"},
                                  {S + QStringLiteral("/中文.bin"), T + QStringLiteral("/中文.bin")}}));
    EXPECT_EQ(OracleDecryptFile(T + "/z3.txt", "pw"), "z");

    // Decrypt a subfolder's files on page 2 into one flat folder.
    WriteFile(tmp.path() + "/encsub/deep/x1.txt", "");
    OracleEncryptFile(tmp.path() + "/encsub/deep/x1.txt", original["A/X/x1.txt"], "pw");
    const QString D = tmp.path() + "/flat";
    QDir().mkpath(D);
    w->edt_Folder_2->setText(tmp.path() + "/encsub/deep");
    w->edt_Password_2->setText("pw");
    dialogs.folderAnswers = {D};
    w->btn_DECryptSelected->click();
    EXPECT_EQ(duringRun, QStringList{"btn_Stop_2"});
    EXPECT_EQ(ReadFile(D + "/x1.txt"), original["A/X/x1.txt"]);
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("选中列表文件解密完成！"));
    EXPECT_EQ(BoxTexts(ShownBox::Error), QStringList{});

    // The same single file again: it equals the marker, so neither status nor progress move.
    progress.clear();
    QString statusDuringRun;
    SetPumpHook([&] {
        statusDuringRun = w->StaticText1->text();
        progress.append({w->ProgressBar->Position(), w->ProgressBar->Max()});
    });
    dialogs.folderAnswers = {D};
    w->btn_DECryptSelected->click();
    EXPECT_EQ(statusDuringRun, QStringLiteral("开始解密，请耐心等待，不要点击其他位置！"));
    EXPECT_EQ(progress.last(), qMakePair(qint64(0), qint64(1)));
}

TEST_F(CryptWindow, BatchesThatEndBeforeWorking)
{
    w->edt_Folder->setText(S);
    w->edt_Password->setText("pw");

    // No to the confirmation: nothing touched, not even the stop flag or the bar.
    w->StopFlag = -1;
    w->ProgressBar->SetPosition(7);
    dialogs.yesNoAnswers = {false, false};
    w->btn_EncryptFolders->click();
    w->btn_EncryptSelectedFiles->click();
    EXPECT_EQ(w->StopFlag, -1);
    EXPECT_EQ(w->ProgressBar->Position(), 7);
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_TRUE(AllButtonsEnabled());

    // Empty password: one box, nothing else.
    dialogs.shown.clear();
    w->edt_Password_2->clear();
    w->btn_DECrypt_ALl->click();
    w->btn_DECryptSelected->click();
    EXPECT_EQ(BoxTexts(ShownBox::Message), (QStringList{QStringLiteral("密码为空值"), QStringLiteral("密码为空值")}));
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].caption, ApplicationTitle());
    EXPECT_TRUE(AllButtonsEnabled());

    // Cancelled picker: the selected batch still reports completion, the tree batch says nothing.
    dialogs.shown.clear();
    w->StaticText1->setText("before");
    w->btn_EncryptFolders->click();
    EXPECT_EQ(w->StaticText1->text(), "before");
    w->btn_EncryptSelectedFiles->click();
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("选中列表文件加密完成！"));
    EXPECT_EQ(BoxTexts(ShownBox::Message), QStringList{});
    EXPECT_TRUE(AllButtonsEnabled());

    // Empty list: no folder asked for, no status text.
    dialogs.shown.clear();
    w->StaticText1->setText("before");
    w->edt_Password_2->setText("pw");
    w->btn_DECryptSelected->click();
    EXPECT_EQ(dialogs.shown.size(), 0u);
    EXPECT_EQ(w->StaticText1->text(), "before");

    // No checked entries: an empty log and the completion text.
    w->btn_CancelAllSelect->click();
    dialogs.folderAnswers = {T};
    w->btn_EncryptSelectedFiles->click();
    EXPECT_EQ(testutil::RelativeFiles(T), QStringList{"note.txt"});
    EXPECT_EQ(ReadFile(T + "/note.txt"), QByteArray());
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("选中列表文件加密完成！"));

    // Empty folder edit in a tree batch: straight to the completion box, no log.
    const QString U = tmp.path() + "/unused";
    QDir().mkpath(U);
    w->edt_Folder_2->clear();
    dialogs.shown.clear();
    dialogs.folderAnswers = {U};
    w->btn_DECrypt_ALl->click();
    EXPECT_EQ(BoxTexts(ShownBox::Message), QStringList{QStringLiteral("解密文件保存成功！")});
    EXPECT_FALSE(Exists(U + "/note.txt"));
}

TEST_F(CryptWindow, StopAfterTheSecondFileEndsTheTreeBatchWithTheLogAndTheSavedBox)
{
    w->edt_Folder->setText(S);
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {T};
    SetPumpHook([&] {
        if (w->StaticText1->text() == QStringLiteral("正在加密文件:z3.txt"))
            w->btn_Stop->click();
    });
    w->btn_EncryptFolders->click();

    EXPECT_EQ(testutil::RelativeFiles(T), (QStringList{"note.txt", "r1.txt", "z3.txt"}));
    EXPECT_EQ(ReadFile(T + "/note.txt"), LogOf("加密文件:", Pairs(Sources(S).mid(0, 2), S, T)));
    EXPECT_EQ(BoxTexts(ShownBox::Message), QStringList{QStringLiteral("加密文件保存成功！")});
    EXPECT_EQ(w->StopFlag, -1);
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(CryptWindow, TargetInsideTheSourceTreeHandlesTheLogAsOneOfTheFiles)
{
    const QString inner = S + "/zz_enc";
    QDir().mkpath(inner);
    w->edt_Folder->setText(S);
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {inner};
    w->btn_EncryptFolders->click();

    QStringList sources = Sources(S);
    sources << inner + "/note.txt";
    const QByteArray log = LogOf("加密文件:", Pairs(sources, S, inner));
    EXPECT_EQ(ReadFile(inner + "/note.txt"), log);
    // Its own line was written before its step, so the encrypted log holds the whole log.
    EXPECT_EQ(OracleDecryptFile(inner + "/zz_enc/note.txt", "pw"), log);
}

TEST_F(CryptWindow, TargetEqualToSourceReplacesEachFileAndDecryptingRestoresIt)
{
    w->edt_Folder->setText(S);
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {S};
    w->btn_EncryptSelectedFiles->click();
    for (const QString& r : {QStringLiteral("r1.txt"), QStringLiteral("z3.txt"), QStringLiteral("中文.bin")})
        EXPECT_EQ(OracleDecryptFile(S + "/" + r, "pw"), original[r]) << r.toStdString();

    w->edt_Folder_2->setText(S);
    ASSERT_EQ(w->Lst_FIles_2->count(), 4);  // the log has joined the folder
    SetChecks(w->Lst_FIles_2, {false, true, true, true});
    ASSERT_EQ(w->Lst_FIles_2->item(0)->text(), S + "/note.txt");
    w->edt_Password_2->setText("pw");
    dialogs.folderAnswers = {S};
    w->btn_DECryptSelected->click();
    for (const QString& r : {QStringLiteral("r1.txt"), QStringLiteral("z3.txt"), QStringLiteral("中文.bin")})
        EXPECT_EQ(ReadFile(S + "/" + r), original[r]) << r.toStdString();
    EXPECT_EQ(BoxTexts(ShownBox::Error), QStringList{});
}

TEST_F(CryptWindow, TargetEqualToSourceKeepsTheSourceWhenTheWriteFailsUnderRlimitFsize)
{
    const QString F = tmp.path() + "/limited";
    const QByteArray big = Noise(200000, 7);
    WriteFile(F + "/big.bin", big);
    WriteFile(F + "/small.txt", "small");
    w->edt_Folder->setText(F);
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {F};

    // Writes past 64 KiB fail with EFBIG instead of killing the process.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    w->btn_EncryptSelectedFiles->click();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(ReadFile(F + "/big.bin"), big);
    EXPECT_EQ(OracleDecryptFile(F + "/small.txt", "pw"), "small");
    EXPECT_EQ(testutil::RelativeFiles(F), (QStringList{"big.bin", "note.txt", "small.txt"}));
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("选中列表文件加密完成！"));
    const QStringList errors = BoxTexts(ShownBox::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("有1个文件没有生成目标文件："))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(F + "/big.bin"));
}

TEST_F(CryptWindow, AFileThatIsNoEncryptedFileGetsALogLineNoTargetAndTheFailureBox)
{
    const QString E = tmp.path() + "/enc";
    OracleEncryptFile(E + "/sub/good.bin", original["B/b1.raw"], "pw");
    WriteFile(E + "/plain.txt", "hello");  // 5 bytes: no whole block before the length
    const QString D = tmp.path() + "/dec";
    QDir().mkpath(D);
    w->edt_Password_2->setText("pw");

    for (const bool tree : {true, false}) {
        w->edt_Folder_2->setText(tree ? E : E + "/");  // the selected run lists the top folder only
        dialogs.shown.clear();
        dialogs.folderAnswers = {D};
        (tree ? w->btn_DECrypt_ALl : w->btn_DECryptSelected)->click();

        const QList<QPair<QString, QString>> treeLines{{E + "/plain.txt", D + "/plain.txt"},
                                                       {E + "/sub/good.bin", D + "/sub/good.bin"}};
        EXPECT_EQ(ReadFile(D + "/note.txt"), LogOf("解密文件:", tree ? treeLines : treeLines.mid(0, 1)));
        EXPECT_FALSE(Exists(D + "/plain.txt"));
        if (tree) {
            EXPECT_EQ(ReadFile(D + "/sub/good.bin"), original["B/b1.raw"]);
        }
        EXPECT_EQ(BoxTexts(ShownBox::Message), tree ? QStringList{QStringLiteral("解密文件保存成功！")} : QStringList{});
        const QStringList errors = BoxTexts(ShownBox::Error);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].startsWith(QStringLiteral("有1个文件没有生成目标文件：")));
        EXPECT_TRUE(errors[0].contains(E + "/plain.txt"));
        EXPECT_EQ(dialogs.shown.back().caption, ApplicationTitle());
        EXPECT_TRUE(AllButtonsEnabled());
    }
}

TEST_F(CryptWindow, FolderTextEndingInSlashKeepsTheSeparatorInTreeTargets)
{
    w->edt_Folder->setText(S + "/");
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {T};
    w->btn_EncryptFolders->click();
    QStringList expectedFiles = rel;
    expectedFiles << "note.txt";
    expectedFiles.sort();
    EXPECT_EQ(testutil::RelativeFiles(T), expectedFiles);
    EXPECT_EQ(ReadFile(T + "/note.txt"), LogOf("加密文件:", Pairs(Sources(S), S, T)));
}

TEST_F(CryptWindow, ChinesePasswordUnderAChineseLocaleGivesTheKeyOfItsGbkBytes)
{
    QByteArray saved[3];
    const char* vars[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (int i = 0; i < 3; ++i) {
        saved[i] = qgetenv(vars[i]);
        qunsetenv(vars[i]);
    }
    qputenv("LANG", "zh_CN.UTF-8");
    w->edt_Folder->setText(S);
    w->edt_Password->setText(QStringLiteral("密钥"));
    dialogs.folderAnswers = {T};
    w->btn_EncryptSelectedFiles->click();
    for (int i = 0; i < 3; ++i)
        saved[i].isNull() ? qunsetenv(vars[i]) : qputenv(vars[i], saved[i]);

    EXPECT_EQ(OracleDecryptFile(T + "/r1.txt", "\xC3\xDC\xD4\xBF"), original["r1.txt"]);
    EXPECT_NE(OracleDecryptFile(T + "/r1.txt", QStringLiteral("密钥").toUtf8()), original["r1.txt"]);
}

TEST_F(CryptWindow, LogFailuresEndTheBatch)
{
    // The log can't be created: a folder holds its name. Selected decrypting reports in a plain box.
    const QString D = tmp.path() + "/blocked";
    QDir().mkpath(D + "/note.txt");
    OracleEncryptFile(tmp.path() + "/e/a.bin", "abc", "pw");
    w->edt_Folder_2->setText(tmp.path() + "/e");
    w->edt_Password_2->setText("pw");
    dialogs.folderAnswers = {D};
    w->btn_DECryptSelected->click();
    ASSERT_EQ(BoxTexts(ShownBox::Message).size(), 1);
    EXPECT_TRUE(BoxTexts(ShownBox::Message)[0].startsWith(QStringLiteral("创建日志文件")));
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("选中列表文件解密出现错误,程序终止！"));
    EXPECT_FALSE(Exists(D + "/a.bin"));
    EXPECT_TRUE(AllButtonsEnabled());

}

TEST_F(CryptWindow, AFolderThatCantBeCreatedBecauseItsNameIsAFileEndsTheTreeBatch)
{
    WriteFile(T + "/A", "a regular file where the tree wants a folder");
    w->edt_Folder->setText(S);
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {T};
    w->btn_EncryptFolders->click();
    const QStringList errors = BoxTexts(ShownBox::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("创建文件夹发生错误，错误原因:"))) << errors[0].toStdString();
    EXPECT_EQ(BoxTexts(ShownBox::Message), QStringList{});
    EXPECT_TRUE(Exists(T + QStringLiteral("/中文.bin")));
    EXPECT_FALSE(Exists(T + "/B"));
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(CryptWindow, FolderTypedDuringASelectedBatchLoadsOnlyAfterIt)
{
    const QString other = tmp.path() + "/other";
    WriteFile(other + "/only.txt", "o");
    w->edt_Folder->setText(S);
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {T};
    SetPumpHook([&] {
        if (w->edt_Folder->text() == S)
            w->edt_Folder->setText(other);
    });
    w->btn_EncryptSelectedFiles->click();
    SetPumpHook({});

    EXPECT_EQ(testutil::RelativeFiles(T), (QStringList{"note.txt", "r1.txt", "z3.txt", QStringLiteral("中文.bin")}));
    ASSERT_EQ(w->Lst_FIles_1->count(), 1);
    EXPECT_EQ(w->Lst_FIles_1->item(0)->text(), other + "/only.txt");
}

TEST_F(CryptWindow, ALargeFileKeepsTheWindowAliveAndAStopPressedMeanwhileWaitsForItsEnd)
{
    const QString F = tmp.path() + "/large";
    const QByteArray big = Noise(3 * 1024 * 1024 + 5, 3);  // several chunks of the cipher
    WriteFile(F + "/a_big.bin", big);
    WriteFile(F + "/b_small.txt", "later");
    w->edt_Folder->setText(F);
    w->edt_Password->setText("pw");
    dialogs.folderAnswers = {T};
    int pumpsInsideTheFile = 0;
    SetPumpHook([&] {
        if (w->CurrentFile != F + "/a_big.bin") {  // not announced yet: the file is still in the cipher
            ++pumpsInsideTheFile;
            w->btn_Stop->click();
        }
    });
    w->btn_EncryptFolders->click();

    EXPECT_GE(pumpsInsideTheFile, 2);
    EXPECT_EQ(OracleDecryptFile(T + "/a_big.bin", "pw"), big);
    EXPECT_FALSE(Exists(T + "/b_small.txt"));
    EXPECT_EQ(ReadFile(T + "/note.txt"), LogOf("加密文件:", {{F + "/a_big.bin", T + "/a_big.bin"}}));
    EXPECT_EQ(BoxTexts(ShownBox::Message), QStringList{QStringLiteral("加密文件保存成功！")});
}

TEST_F(CryptWindow, AFolderTextThatNamesNoFolderEndsTheTreeBatchInTheFailureReport)
{
    w->edt_Folder_2->setText(tmp.path() + "/missing");
    w->edt_Password_2->setText("pw");
    dialogs.shown.clear();
    dialogs.folderAnswers = {T};
    WriteFile(T + "/note.txt", "an earlier batch's log\r\n");
    w->btn_DECrypt_ALl->click();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Error);
    EXPECT_EQ(dialogs.shown[1].caption, ApplicationTitle());
    EXPECT_EQ(dialogs.shown[1].text, "The specified path was not found.");
    // The batch never had its files, so the earlier log stays as it was.
    EXPECT_EQ(ReadFile(T + "/note.txt"), QByteArray("an earlier batch's log\r\n"));
    EXPECT_TRUE(AllButtonsEnabled());
}

}  // namespace

// Names that are not UTF-8 (GBK from old disks, a stray byte) beside a twin
// really named with U+FFFD, and a FIFO, through every batch of the real
// window: each file is found by its own bytes and never taken for another;
// the FIFO is never opened but named when the batch ends.
#include "CodePage.h"
#include "DESUnit.h"
#include "Dialogs.h"
#include "Pump.h"
#include "TestUtil.h"
#include "folder_services.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTest>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace {

const std::string kGbk = "\xD6\xD0\xCE\xC4.txt";  // 中文.txt in GBK
const std::string kStray = "a\xFF.txt";
const std::string kTwin = "a\xEF\xBF\xBD.txt";    // really named with U+FFFD
const std::map<std::string, std::string> kFiles = {{kGbk, "gbk file"}, {kStray, "stray byte"}, {kTwin, "twin"}};

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The regular files of one folder by their byte names, with their contents.
std::map<std::string, std::string> Files(const std::string& folder)
{
    std::map<std::string, std::string> files;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* d = readdir(dir))
            if (d->d_type == DT_REG)
                files[d->d_name] = Read(folder + "/" + d->d_name);
        closedir(dir);
    }
    return files;
}

QString Q(const std::string& bytes)
{
    return DecodePath(bytes);
}

class OddFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = tmp.path().toStdString();
        D = root + "/D";
        for (const char* folder : {"/D", "/E", "/P", "/X", "/Y", "/Z"})
            mkdir((root + folder).c_str(), 0755);
        for (const auto& [name, content] : kFiles)
            std::ofstream(D + "/" + name, std::ios::binary) << content;
        ASSERT_EQ(mkfifo((D + "/pipe").c_str(), 0600), 0);
        w.show();
    }
    void TearDown() override
    {
        SetPumpHook({});
        std::error_code ec;
        std::filesystem::remove_all(root, ec);  // Qt's own removal can't spell these names
    }

    static void SetText(QLineEdit* edit, const QString& text)
    {
        const QSignalBlocker quiet(edit);
        edit->setText(text);
    }
    static void Fill(QListWidget* list, const QStringList& paths)
    {
        for (const QString& path : paths) {
            auto* item = new QListWidgetItem(path, list);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Checked);
        }
    }
    // Each original file, decrypted from folder, by its own name.
    void ExpectEncryptedCopies(const std::string& folder, const char* key = "pw")
    {
        for (const auto& [name, content] : kFiles) {
            ASSERT_TRUE(DesDecryptFile(folder + "/" + name, root + "/check", key)) << name;
            EXPECT_EQ(Read(root + "/check"), content) << name;
        }
    }
    QString PipeBox() const { return SpecialFilesBox({{Q(D + "/pipe"), SpecialFileReason()}}).text; }
    // Decrypts with the window's button into root/P and expects every
    // original back under its own name.
    void ExpectDecryptedBackBy(QPushButton* button)
    {
        w.edt_Password_2->setText(QStringLiteral("pw"));
        dialogs.folderAnswers.push_back(Q(root + "/P"));
        button->click();
        auto back = Files(root + "/P");
        back.erase("note.txt");
        EXPECT_EQ(back, kFiles);
    }

    QTemporaryDir tmp;
    ScriptedDialogs dialogs;
    Tfrm_main w{dialogs};
    std::string root, D;
};

TEST_F(OddFiles, EncryptInPlaceAndDecryptTreeTakeEachFileOnce)
{
    SetText(w.edt_Folder, Q(D));
    w.edt_Password->setText(QStringLiteral("pw"));
    dialogs.yesNoAnswers.push_back(true);
    dialogs.folderAnswers.push_back(Q(D));
    w.btn_EncryptFolders->click();
    ExpectEncryptedCopies(D);
    const QStringList errors = dialogs.Texts(ShownBox::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(Q(D + "/pipe") + QStringLiteral("（原因：") + SpecialFileReason()));

    SetText(w.edt_Folder_2, Q(D));
    ExpectDecryptedBackBy(w.btn_DECrypt_ALl);
}

TEST_F(OddFiles, EncryptAndDecryptSelectedFindEachFileByItsBytes)
{
    Fill(w.Lst_FIles_1, GetAllFiles(Q(D)));
    w.edt_Password->setText(QStringLiteral("pw"));
    dialogs.yesNoAnswers.push_back(true);
    dialogs.folderAnswers.push_back(Q(root + "/E"));
    w.btn_EncryptSelectedFiles->click();
    ExpectEncryptedCopies(root + "/E");
    ASSERT_EQ(dialogs.Texts(ShownBox::Error).size(), 1);
    EXPECT_TRUE(dialogs.Texts(ShownBox::Error)[0].contains(SpecialFileReason()));
    // The log is for people: valid UTF-8, a stray byte as U+FFFD.
    const std::string note = Read(root + "/E/note.txt");
    EXPECT_TRUE(codepage::IsValidUtf8(note));
    EXPECT_NE(note.find("源文件:" + codepage::ReadableUtf8(D + "/" + kStray) + ","), std::string::npos);
    EXPECT_EQ(note.find("pipe"), std::string::npos);

    QStringList encrypted;
    for (const auto& [name, content] : kFiles)
        encrypted << Q(root + "/E/" + name);
    Fill(w.Lst_FIles_2, encrypted);
    ExpectDecryptedBackBy(w.btn_DECryptSelected);
}

TEST_F(OddFiles, CompressAndExtractKeepEveryNameAndLeaveFifosOut)
{
    SetText(w.edt_Folder, Q(D));
    dialogs.saveAnswers.push_back(Q(root + "/Z/f"));
    w.btn_ZipFolder->click();
    EXPECT_EQ(dialogs.Texts(ShownBox::Message), QStringList{PipeBox()});

    Fill(w.Lst_FIles_1, GetAllFiles(Q(D)));
    dialogs.saveAnswers.push_back(Q(root + "/s"));
    w.btn_ZipSelected->click();
    EXPECT_EQ(dialogs.Texts(ShownBox::Message).size(), 2);
    EXPECT_EQ(dialogs.Texts(ShownBox::Message).back(), PipeBox());

    QString out;
    ASSERT_EQ(testutil::Run(QStringLiteral("python3 -c 'import zipfile,sys; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' ")
                                + tmp.path() + QStringLiteral("/s.zip"),
                            &out),
              0);
    EXPECT_EQ(out.trimmed(), QStringLiteral("3"));

    // A FIFO named like an archive is never opened either.
    ASSERT_EQ(mkfifo((root + "/Z/x.zip").c_str(), 0600), 0);
    SetText(w.edt_Folder_2, Q(root + "/Z"));
    dialogs.folderAnswers.push_back(Q(root + "/X"));
    w.btn_UnZipAllToSpecified->click();
    EXPECT_EQ(Files(root + "/X"), kFiles);
    EXPECT_EQ(dialogs.Texts(ShownBox::Message).back(), SpecialFilesBox({{Q(root + "/Z/x.zip"), SpecialFileReason()}}).text);

    Fill(w.Lst_FIles_2, {Q(root + "/s.zip"), Q(root + "/Z/x.zip")});
    dialogs.folderAnswers.push_back(Q(root + "/Y"));
    w.btn_UnZipSelectedToSpecified->click();
    EXPECT_EQ(Files(root + "/Y"), kFiles);
    EXPECT_EQ(dialogs.Texts(ShownBox::Message).back(), SpecialFilesBox({{Q(root + "/Z/x.zip"), SpecialFileReason()}}).text);
}

TEST_F(OddFiles, ExportRowsDescribeTheRealFilesInValidUtf8)
{
    SetText(w.edt_Folder, Q(D));
    dialogs.saveAnswers.push_back(Q(root + "/list"));
    w.btn_OutAllFiles->click();
    const std::string csv = Read(root + "/list.csv");
    EXPECT_TRUE(codepage::IsValidUtf8(csv));
    for (const auto& [name, content] : kFiles) {
        const std::string readable = codepage::ReadableUtf8(name);
        const std::string row = codepage::ReadableUtf8(D + "/" + name) + "," + readable + ",归档文件," +
                                std::to_string(content.size()) + ",";
        EXPECT_NE(csv.find(row), std::string::npos) << readable;
    }
    EXPECT_NE(csv.find(D + "/pipe,pipe,系统文件,0,"), std::string::npos);
}

TEST_F(OddFiles, RenameNumbersEachFileOnceInCaseInsensitiveOrder)
{
    w.ruleDialogHook = [](Tfrm_Rule& d) {
        d.edt_prefix->setText(QStringLiteral("n[1][1]"));
        QTest::mouseClick(d.btn_Change, Qt::LeftButton);
    };
    w.edt_Folder->setText(Q(D));
    w.btn_ChangeAllFileName->click();
    // The stray byte (U+DCFF) sorts before U+FFFD; the GBK bytes after "pipe".
    EXPECT_EQ(Files(D), (std::map<std::string, std::string>{
                            {"n1.txt", "stray byte"}, {"n2.txt", "twin"}, {"n4.txt", "gbk file"}}));
    struct stat st{};
    EXPECT_TRUE(stat((D + "/n3").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// A locale that names no language takes code page 936; a password holding a
// character that page can't express is refused before anything is written.
TEST_F(OddFiles, PasswordsUnderALocaleWithoutLanguage)
{
    const char* saved = getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    setenv("LC_ALL", "C", 1);
    SetText(w.edt_Folder, Q(D));
    w.edt_Password->setText(QStringLiteral("密码\U0001F600"));
    dialogs.yesNoAnswers.push_back(true);
    dialogs.folderAnswers.push_back(Q(root + "/E"));
    w.btn_EncryptFolders->click();
    EXPECT_EQ(dialogs.Texts(ShownBox::Message),
              QStringList{QStringLiteral("密码中含有当前代码页（936）无法表示的字符：\U0001F600")});
    EXPECT_TRUE(Files(root + "/E").empty());
    EXPECT_TRUE(dialogs.folderAnswers.size() == 1u) << "the target was asked for";

    w.edt_Password->setText(QStringLiteral("中文"));
    dialogs.yesNoAnswers.push_back(true);
    w.btn_EncryptFolders->click();
    ExpectEncryptedCopies(root + "/E", "\xD6\xD0\xCE\xC4");
    if (saved)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

}  // namespace

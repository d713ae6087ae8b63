// The two list export buttons, driven through the real window offscreen with
// the save dialog answered by script; the list files are checked byte for byte.
#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "TestUtil.h"
#include "un_Main.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kZone = "Europe/Berlin";
const QByteArray kAllHeader = "文件名,短文件名,属性,文件大小,创建时间,最近访问时间,最近修改时间\r\n";
const QByteArray kCheckedHeader = "长文件名,短文件名,属性,文件大小,创建时间,最近访问时间,最近修改时间\r\n";
const QString kSaved = QStringLiteral("列表文件保存成功！");

QString Short(const QDate& date)
{
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

// A summer evening late enough that the date would move with the wrong offset
// (last access), and a summer moment just after midnight (last write).
const QDate kAccessDay(2024, 7, 15);
const QDate kWriteDay(2024, 7, 16);

void StampTimes(const QString& path)
{
    const auto at = [](const QDate& d, int hh, int mm) {
        return static_cast<time_t>(QDateTime(d, QTime(hh, mm), QTimeZone(kZone)).toSecsSinceEpoch());
    };
    timespec times[2] = {{at(kAccessDay, 23, 50), 0}, {at(kWriteDay, 0, 20), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

// The creation date as coreutils' stat sees the birth time; the last write
// stands in where the file system keeps none.
QString CreatedText(const QString& path)
{
    QString out;
    testutil::Run(QStringLiteral("stat -c %W '") + path + QStringLiteral("'"), &out);
    const qint64 birth = out.trimmed().toLongLong();
    return birth > 0 ? Short(QDateTime::fromSecsSinceEpoch(birth, QTimeZone(kZone)).date()) : Short(kWriteDay);
}

// The row the list must hold for a file made by MakeFile, with the CSV field
// texts given as they must appear.
QByteArray Row(const QString& pathField, const QString& nameField, const QString& path, qint64 size)
{
    return (pathField + QLatin1Char(',') + nameField + QStringLiteral(",归档文件,") + QString::number(size)
            + QLatin1Char(',') + CreatedText(path) + QLatin1Char(',') + Short(kAccessDay) + QLatin1Char(',')
            + Short(kWriteDay) + QStringLiteral("\r\n"))
        .toUtf8();
}

QByteArray MissingRow(const QString& path)
{
    return (path + QLatin1Char(',') + path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)
            + QStringLiteral(",未知，属性代码：0,0,0000/00/00,0000/00/00,0000/00/00\r\n"))
        .toUtf8();
}

class ExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ::setenv("TZ", kZone, 1);
        ::tzset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        tree = tmp.path() + QStringLiteral("/tree");
        out = tmp.path() + QStringLiteral("/out");
        ASSERT_TRUE(QDir().mkpath(tree));
        ASSERT_TRUE(QDir().mkpath(out));
        form = std::make_unique<Tfrm_main>(dialogs);
    }

    void TearDown() override { SetPumpHook(nullptr); }

    QString MakeFile(const QString& relative, const QByteArray& bytes)
    {
        const QString path = tree + QLatin1Char('/') + relative;
        testutil::WriteFile(path, bytes);
        StampTimes(path);
        return path;
    }

    // The folder text as typed, without starting the folder load the edit
    // would run: the export only reads the text.
    void SetFolderText(const QString& text)
    {
        const QSignalBlocker block(form->edt_Folder);
        form->edt_Folder->setText(text);
    }

    void AddEntry(const QString& path, bool checked)
    {
        auto* item = new QListWidgetItem(path, form->Lst_FIles_1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }

    bool AllButtonsEnabled() const
    {
        for (QPushButton* button : form->findChildren<QPushButton*>())
            if (!button->isEnabled())
                return false;
        return true;
    }

    QStringList Boxes(ShownBox::Kind kind) const { return dialogs.Texts(kind); }

    QTemporaryDir tmp;
    QString tree;
    QString out;
    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_main> form;
};

TEST_F(ExportTest, WholeTreeWritesHeaderAndOneExactRowPerFile)
{
    const QString a = MakeFile(QStringLiteral("a.txt"), "abc");
    const QString comma = MakeFile(QStringLiteral("b,c.txt"), "12345");
    const QString quote = MakeFile(QStringLiteral("q\"uote.txt"), "");
    const QString chinese = MakeFile(QStringLiteral("sub/文件.txt"), QByteArray(70000, 'z'));
    SetFolderText(tree);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/list"));

    form->btn_OutAllFiles->click();

    const QByteArray expected = kAllHeader + Row(a, QStringLiteral("a.txt"), a, 3)
                                + Row(QLatin1Char('"') + comma + QLatin1Char('"'), QStringLiteral("\"b,c.txt\""), comma, 5)
                                + Row(QLatin1Char('"') + tree + QStringLiteral("/q\"\"uote.txt\""),
                                      QStringLiteral("\"q\"\"uote.txt\""), quote, 0)
                                + Row(chinese, QStringLiteral("文件.txt"), chinese, 70000);
    EXPECT_EQ(testutil::ReadFile(out + QStringLiteral("/list.csv")), expected);

    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::SaveFile);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("将文件列表保存到文件"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("*.csv|*.csv"));
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Message);
    EXPECT_EQ(dialogs.shown[1].caption, ApplicationTitle());
    EXPECT_EQ(dialogs.shown[1].text, kSaved);
    EXPECT_EQ(form->StaticText1->text(), QStringLiteral("正在添加文件:文件.txt信息"));
    EXPECT_EQ(form->CurrentFile, chinese);
    EXPECT_EQ(form->ProgressBar->Max(), 4);
    EXPECT_EQ(form->ProgressBar->Position(), 4);
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, WholeTreeListReadsBackAsSevenColumnsInPythonsCsvReader)
{
    if (!testutil::HaveTool(QStringLiteral("python3")))
        GTEST_SKIP() << "python3 is not installed";
    MakeFile(QStringLiteral("plain.txt"), "x");
    MakeFile(QStringLiteral("with,comma.txt"), "x");
    MakeFile(QStringLiteral("with\"quote.txt"), "x");
    MakeFile(QStringLiteral("x/\"both,\".txt"), "x");
    SetFolderText(tree);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/list"));
    form->btn_OutAllFiles->click();

    const QString script = QStringLiteral(
        "import csv,sys\n"
        "rows=list(csv.reader(open(sys.argv[1],encoding='utf-8',newline='')))\n"
        "assert all(len(r)==7 for r in rows), [len(r) for r in rows]\n"
        "print('|'.join(r[1] for r in rows[1:]))\n");
    testutil::WriteFile(tmp.path() + QStringLiteral("/check.py"), script.toUtf8());
    QString output;
    ASSERT_EQ(testutil::Run(QStringLiteral("python3 '%1/check.py' '%2/list.csv'").arg(tmp.path(), out), &output), 0)
        << output.toStdString();
    EXPECT_EQ(output.trimmed(), QStringLiteral("plain.txt|with\"quote.txt|with,comma.txt|\"both,\".txt"));
}

TEST_F(ExportTest, ListFileNameAlwaysGetsCsvAppended)
{
    MakeFile(QStringLiteral("a.txt"), "abc");
    SetFolderText(tree);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/report.csv"));
    form->btn_OutAllFiles->click();
    EXPECT_TRUE(testutil::Exists(out + QStringLiteral("/report.csv.csv")));
    EXPECT_FALSE(testutil::Exists(out + QStringLiteral("/report.csv")));
}

TEST_F(ExportTest, ExistingListFileIsReplaced)
{
    testutil::WriteFile(out + QStringLiteral("/list.csv"), QByteArray(5000, 'o'));
    SetFolderText(QString());
    dialogs.saveAnswers.push_back(out + QStringLiteral("/list"));
    form->btn_OutAllFiles->click();
    EXPECT_EQ(testutil::ReadFile(out + QStringLiteral("/list.csv")), kAllHeader);
}

TEST_F(ExportTest, CancelledOrEmptySaveDialogWritesNothing)
{
    SetFolderText(tree);
    dialogs.saveAnswers.push_back(std::nullopt);
    dialogs.saveAnswers.push_back(QString());
    form->btn_OutAllFiles->click();
    form->btn_OutAllFiles->click();
    AddEntry(tree + QStringLiteral("/a.txt"), true);
    form->btn_OutFiles->click();  // the script's queue is empty: cancel
    EXPECT_TRUE(testutil::RelativeFiles(out).isEmpty());
    EXPECT_EQ(Boxes(ShownBox::SaveFile).size(), 3);
    EXPECT_EQ(dialogs.shown.size(), 3u);
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, WholeTreeWithEmptyFolderTextWritesHeaderAndReportsSuccess)
{
    SetFolderText(QString());
    dialogs.saveAnswers.push_back(out + QStringLiteral("/list"));
    form->btn_OutAllFiles->click();
    EXPECT_EQ(testutil::ReadFile(out + QStringLiteral("/list.csv")), kAllHeader);
    EXPECT_EQ(Boxes(ShownBox::Message), QStringList{kSaved});
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, WholeTreeOfAFolderThatIsNotThereReportsTheFailureNotSuccess)
{
    SetFolderText(tree + QStringLiteral("/nowhere"));
    dialogs.saveAnswers.push_back(out + QStringLiteral("/list"));
    form->btn_OutAllFiles->click();
    EXPECT_FALSE(testutil::Exists(out + QStringLiteral("/list.csv"))) << "no partial list";
    EXPECT_TRUE(Boxes(ShownBox::Message).isEmpty()) << "no success box";
    ASSERT_EQ(Boxes(ShownBox::Error).size(), 1);
    EXPECT_EQ(Boxes(ShownBox::Error).front(), QStringLiteral("The specified path was not found."));
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, ListFileThatCantBeCreatedBecauseItsParentIsARegularFileIsTheDefaultFailure)
{
    testutil::WriteFile(out + QStringLiteral("/plain"), "x");
    SetFolderText(tree);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/plain/list"));
    form->btn_OutAllFiles->click();
    ASSERT_EQ(Boxes(ShownBox::Error).size(), 1);
    EXPECT_TRUE(Boxes(ShownBox::Error).front().startsWith(QStringLiteral("无法创建文件“") + out
                                                           + QStringLiteral("/plain/list.csv”")));
    EXPECT_TRUE(Boxes(ShownBox::Message).isEmpty());
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, StopEndsTheWholeTreeExportAfterTheCurrentFile)
{
    for (int i = 0; i < 6; ++i)
        MakeFile(QStringLiteral("f%1.txt").arg(i), "x");
    SetFolderText(tree);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/list"));
    int pumps = 0;
    bool busyWhileRunning = false;
    SetPumpHook([&] {
        if (++pumps == 2) {
            busyWhileRunning = !form->btn_OutAllFiles->isEnabled() && form->btn_Stop->isEnabled();
            form->btn_Stop->click();
        }
    });
    form->btn_OutAllFiles->click();

    const QStringList lines = QString::fromUtf8(testutil::ReadFile(out + QStringLiteral("/list.csv")))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << "header and the two rows written before the stop";
    EXPECT_TRUE(lines[2].startsWith(tree + QStringLiteral("/f1.txt,")));
    EXPECT_TRUE(busyWhileRunning);
    EXPECT_EQ(Boxes(ShownBox::Message), QStringList{kSaved});
    EXPECT_EQ(form->ProgressBar->Position(), 2);
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, CheckedEntriesWriteTheirRowsInListOrder)
{
    const QString a = MakeFile(QStringLiteral("a.txt"), "abc");
    const QString b = MakeFile(QStringLiteral("b.txt"), "0123456789");
    const QString gone = tree + QStringLiteral("/gone.txt");
    AddEntry(b, true);
    AddEntry(tree + QStringLiteral("/unchecked.txt"), false);
    AddEntry(gone, true);
    AddEntry(a, true);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/picked"));
    form->btn_OutFiles->click();

    const QByteArray expected = kCheckedHeader + Row(b, QStringLiteral("b.txt"), b, 10) + MissingRow(gone)
                                + Row(a, QStringLiteral("a.txt"), a, 3);
    EXPECT_EQ(testutil::ReadFile(out + QStringLiteral("/picked.csv")), expected);
    EXPECT_EQ(Boxes(ShownBox::Message), QStringList{kSaved});
    EXPECT_EQ(form->StaticText1->text(), QStringLiteral("正在添加文件:a.txt信息"));
    EXPECT_EQ(form->ProgressBar->Max(), 3);
    EXPECT_EQ(form->ProgressBar->Position(), 4);
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, CheckedEntriesBarCountsPlacesInTheWholeList)
{
    for (int i = 0; i < 10; ++i)
        AddEntry(MakeFile(QStringLiteral("f%1.txt").arg(i), "x"), i >= 8);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/picked"));
    std::vector<std::int64_t> positions;
    SetPumpHook([&] { positions.push_back(form->ProgressBar->Position()); });
    form->btn_OutFiles->click();
    EXPECT_EQ(form->ProgressBar->Max(), 2);
    EXPECT_EQ(positions, (std::vector<std::int64_t>{9, 10})) << "full from the first written row on";
}

TEST_F(ExportTest, CheckedEntriesWithEmptyListWriteNothingAndSayNothing)
{
    dialogs.saveAnswers.push_back(out + QStringLiteral("/picked"));
    form->btn_OutFiles->click();
    EXPECT_FALSE(testutil::Exists(out + QStringLiteral("/picked.csv")));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::SaveFile);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("*.csv|*.csv"));
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, CheckedEntriesWithNoneCheckedWriteTheHeaderAndReportSuccess)
{
    AddEntry(MakeFile(QStringLiteral("a.txt"), "abc"), false);
    AddEntry(MakeFile(QStringLiteral("b.txt"), "abc"), false);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/picked"));
    form->btn_OutFiles->click();
    EXPECT_EQ(testutil::ReadFile(out + QStringLiteral("/picked.csv")), kCheckedHeader);
    EXPECT_EQ(Boxes(ShownBox::Message), QStringList{kSaved});
    EXPECT_EQ(form->ProgressBar->Max(), 0);
    EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(ExportTest, StopEndsTheCheckedExportAfterTheCurrentEntry)
{
    for (int i = 0; i < 5; ++i)
        AddEntry(MakeFile(QStringLiteral("f%1.txt").arg(i), "x"), true);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/picked"));
    SetPumpHook([&] { form->btn_Stop->click(); });
    form->btn_OutFiles->click();
    const QStringList lines = QString::fromUtf8(testutil::ReadFile(out + QStringLiteral("/picked.csv")))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 2);
    EXPECT_EQ(Boxes(ShownBox::Message), QStringList{kSaved});
    EXPECT_TRUE(AllButtonsEnabled());
}

}  // namespace

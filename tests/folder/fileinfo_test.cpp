// File information: attribute names, what a file's entry gives, its dates in
// the time zone of the day, the CSV row and the list file's bytes.
#include "FileInfo.h"
#include "TestUtil.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kNoDate = QStringLiteral("0000/00/00");
const char* const kZone = "Europe/Berlin";  // a zone with summer time

QString Short(const QDate& date)
{
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

// Seconds since the epoch of a local time in the test zone, by Qt's own zone
// data, not by the C library the code under test uses.
std::int64_t ZoneSeconds(int y, int m, int d, int hh, int mm)
{
    return QDateTime(QDate(y, m, d), QTime(hh, mm), QTimeZone(kZone)).toSecsSinceEpoch();
}

void SetTimes(const QString& path, std::int64_t atime, std::int64_t mtime, bool noFollow = false)
{
    timespec times[2] = {{static_cast<time_t>(atime), 0}, {static_cast<time_t>(mtime), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, noFollow ? AT_SYMLINK_NOFOLLOW : 0), 0);
}

// The birth time as coreutils' stat sees it; 0 when the file system keeps none.
std::int64_t BirthSeconds(const QString& path)
{
    QString out;
    testutil::Run(QStringLiteral("stat -c %W '") + path + QStringLiteral("'"), &out);
    return out.trimmed().toLongLong();
}

class FileInfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ::setenv("TZ", kZone, 1);
        ::tzset();
    }
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

    QTemporaryDir dir;
};

TEST(FileAttToTextTest, NamesEveryKnownWordExactly)
{
    const std::pair<std::int32_t, const char*> table[] = {
        {-1, "无效文件"},     {0x1, "只读文件"},      {0x2, "隐藏文件"},     {0x4, "系统文件"},
        {0x8, "卷标文件"},    {0x10, "目录文件"},     {0x20, "归档文件"},    {0x40, "保留文件"},
        {0x80, "正常文件"},   {0x100, "临时文件"},    {0x1FF, "任意文件"},   {0x200, "稀疏文件"},
        {0x400, "超链接或快捷方式"}, {0x800, "压缩文件"}, {0x1000, "脱机文件"}, {0x2000, "索引文件"},
        {0x4000, "加密文件"}, {0x10000, "虚拟文件"},
    };
    for (const auto& [word, text] : table)
        EXPECT_EQ(FileAttToText(word), QString::fromUtf8(text)) << word;
}

TEST(FileAttToTextTest, AnyOtherWordIsUnknownWithItsSignedDecimal)
{
    const std::pair<std::int32_t, const char*> table[] = {
        {0, "未知，属性代码：0"},       {33, "未知，属性代码：33"},
        {0x2020, "未知，属性代码：8224"}, {3, "未知，属性代码：3"},
        {-2, "未知，属性代码：-2"},      {INT32_MIN, "未知，属性代码：-2147483648"},
        {0x20000, "未知，属性代码：131072"},
    };
    for (const auto& [word, text] : table)
        EXPECT_EQ(FileAttToText(word), QString::fromUtf8(text)) << word;
}

TEST_F(FileInfoTest, PlainFileGivesArchiveWordSizeAndDates)
{
    const QString file = Path(QStringLiteral("a.txt"));
    testutil::WriteFile(file, "abc");
    SetTimes(file, ZoneSeconds(2023, 3, 4, 12, 0), ZoneSeconds(2022, 11, 30, 8, 15));
    FileInfo info;
    info.ExcludeAttr = 99;
    ReadFileInfo(file, info);
    EXPECT_EQ(info.FileSize, 3);
    EXPECT_EQ(info.FileAttInt, 0x20);
    EXPECT_EQ(FileAttToText(info.FileAttInt), QStringLiteral("归档文件"));
    EXPECT_EQ(info.ViewTime, Short(QDate(2023, 3, 4)));
    EXPECT_EQ(info.ModifyTime, Short(QDate(2022, 11, 30)));
    EXPECT_EQ(info.ExcludeAttr, 0);
    // The creation date is the birth date where the file system keeps one,
    // the last write's date where it doesn't.
    const std::int64_t birth = BirthSeconds(file);
    const QDate created = birth > 0 ? QDateTime::fromSecsSinceEpoch(birth, QTimeZone(kZone)).date() : QDate(2022, 11, 30);
    EXPECT_EQ(info.CreateTime, Short(created));
}

TEST_F(FileInfoTest, ReadOnlyHiddenAndFolderWords)
{
    const QString readOnly = Path(QStringLiteral("ro.txt"));
    const QString hidden = Path(QStringLiteral(".hidden"));
    const QString hiddenReadOnly = Path(QStringLiteral(".both"));
    const QString folder = Path(QStringLiteral("sub"));
    const QString hiddenFolder = Path(QStringLiteral(".cache"));
    testutil::WriteFile(readOnly, "x");
    testutil::WriteFile(hidden, "x");
    testutil::WriteFile(hiddenReadOnly, "x");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QDir().mkpath(hiddenFolder));
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(hiddenReadOnly).constData(), 0400), 0);

    FileInfo info;
    ReadFileInfo(readOnly, info);
    EXPECT_EQ(info.FileAttInt, 33);
    EXPECT_EQ(FileAttToText(info.FileAttInt), QStringLiteral("未知，属性代码：33"));
    ReadFileInfo(hidden, info);
    EXPECT_EQ(info.FileAttInt, 0x22);
    ReadFileInfo(hiddenReadOnly, info);
    EXPECT_EQ(info.FileAttInt, 0x23);
    ReadFileInfo(folder, info);
    EXPECT_EQ(info.FileAttInt, 16);
    EXPECT_EQ(FileAttToText(info.FileAttInt), QStringLiteral("目录文件"));
    EXPECT_NE(info.ModifyTime, kNoDate);
    ReadFileInfo(folder + QLatin1Char('/'), info);
    EXPECT_EQ(info.FileAttInt, 16) << "a trailing separator still names the folder";
    ReadFileInfo(hiddenFolder, info);
    EXPECT_EQ(info.FileAttInt, 0x12);
}

TEST_F(FileInfoTest, SymbolicLinkIsDescribedByItsOwnEntry)
{
    const QString target = Path(QStringLiteral("target.bin"));
    testutil::WriteFile(target, QByteArray(5000, 'x'));
    SetTimes(target, ZoneSeconds(2020, 1, 1, 12, 0), ZoneSeconds(2020, 1, 1, 12, 0));
    const QString link = Path(QStringLiteral("link"));
    const QString folderLink = Path(QStringLiteral("folderlink"));
    const QString dangling = Path(QStringLiteral("dangling"));
    ASSERT_EQ(::symlink("target.bin", QFile::encodeName(link).constData()), 0);
    ASSERT_EQ(::symlink(".", QFile::encodeName(folderLink).constData()), 0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(dangling).constData()), 0);
    SetTimes(link, ZoneSeconds(2021, 6, 1, 12, 0), ZoneSeconds(2021, 6, 2, 12, 0), true);

    FileInfo info;
    ReadFileInfo(link, info);
    EXPECT_EQ(info.FileAttInt, 0x420);
    EXPECT_EQ(info.FileSize, 10) << "the link's own size: the length of its target text";
    EXPECT_EQ(info.ModifyTime, Short(QDate(2021, 6, 2)));
    EXPECT_EQ(info.ViewTime, Short(QDate(2021, 6, 1)));
    ReadFileInfo(folderLink, info);
    EXPECT_EQ(info.FileAttInt, 0x410);
    ReadFileInfo(dangling, info);
    EXPECT_EQ(info.FileAttInt, 0x420);
    EXPECT_EQ(info.FileSize, 7);
}

TEST_F(FileInfoTest, FifoIsASystemEntry)
{
    const QString fifo = Path(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    FileInfo info;
    ReadFileInfo(fifo, info);
    EXPECT_EQ(info.FileAttInt, 0x4);
    EXPECT_EQ(FileAttToText(info.FileAttInt), QStringLiteral("系统文件"));
}

TEST_F(FileInfoTest, PathThatCantBeFoundGivesTheZeroRecord)
{
    const QString blocker = Path(QStringLiteral("plain"));
    testutil::WriteFile(blocker, "x");
    const QString paths[] = {Path(QStringLiteral("gone.txt")), blocker + QStringLiteral("/under-a-file"), QString()};
    for (const QString& path : paths) {
        FileInfo info;
        info.FileSize = 42;
        info.FileAttInt = 32;
        info.CreateTime = info.ViewTime = info.ModifyTime = QStringLiteral("stale");
        info.ExcludeAttr = 7;
        ReadFileInfo(path, info);
        EXPECT_EQ(info.FileSize, 0) << path.toStdString();
        EXPECT_EQ(info.FileAttInt, 0);
        EXPECT_EQ(info.CreateTime, kNoDate);
        EXPECT_EQ(info.ViewTime, kNoDate);
        EXPECT_EQ(info.ModifyTime, kNoDate);
        EXPECT_EQ(info.ExcludeAttr, 0);
        EXPECT_EQ(FileAttToText(info.FileAttInt), QStringLiteral("未知，属性代码：0"));
    }
}

// Late-evening and just-after-midnight moments in summer and winter: each
// must show its own local day under the rules of that day, whatever the
// offset in force today.
TEST_F(FileInfoTest, DatesUseTheZoneRulesOfTheirOwnDay)
{
    const QString file = Path(QStringLiteral("late.txt"));
    testutil::WriteFile(file, "x");
    struct Case {
        QDate day;
        int hh, mm;
    };
    const Case cases[] = {
        {QDate(2024, 7, 15), 23, 59}, {QDate(2024, 7, 15), 0, 30},
        {QDate(2024, 1, 15), 23, 59}, {QDate(2024, 1, 15), 0, 30},
        {QDate(2024, 3, 31), 23, 30},  // the day summer time starts
    };
    for (const Case& c : cases) {
        const std::int64_t when = ZoneSeconds(c.day.year(), c.day.month(), c.day.day(), c.hh, c.mm);
        SetTimes(file, when, when);
        FileInfo info;
        ReadFileInfo(file, info);
        EXPECT_EQ(info.ModifyTime, Short(c.day)) << c.day.toString(Qt::ISODate).toStdString() << " " << c.hh;
        EXPECT_EQ(info.ViewTime, Short(c.day));
        EXPECT_FALSE(info.ModifyTime.contains(QStringLiteral(":"))) << "a date, no time of day";
    }
}

TEST_F(FileInfoTest, DatesOutsideTheDosRangeAreShownAsTheyAre)
{
    const QString file = Path(QStringLiteral("old.txt"));
    testutil::WriteFile(file, "x");
    SetTimes(file, ZoneSeconds(1975, 5, 6, 10, 0), ZoneSeconds(2150, 8, 9, 10, 0));
    FileInfo info;
    ReadFileInfo(file, info);
    EXPECT_EQ(info.ViewTime, Short(QDate(1975, 5, 6)));
    EXPECT_EQ(info.ModifyTime, Short(QDate(2150, 8, 9)));
}

TEST_F(FileInfoTest, SparseFileOfThreeGibibytesShowsItsTrueSize)
{
    const QString file = Path(QStringLiteral("big.bin"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(3LL << 30));
    }
    FileInfo info;
    ReadFileInfo(file, info);
    EXPECT_EQ(info.FileSize, 3221225472LL);
    EXPECT_TRUE(FileListLine(file, info).contains(QStringLiteral(",归档文件,3221225472,")));
}

FileInfo Record(std::int64_t size, std::int32_t att)
{
    FileInfo info;
    info.FileSize = size;
    info.FileAttInt = att;
    info.CreateTime = QStringLiteral("2024/1/2");
    info.ViewTime = QStringLiteral("2024/1/3");
    info.ModifyTime = QStringLiteral("2024/1/4");
    return info;
}

TEST(FileListLineTest, SevenFieldsJoinedByCommas)
{
    EXPECT_EQ(FileListLine(QStringLiteral("/d/a.txt"), Record(3, 0x20)),
              QStringLiteral("/d/a.txt,a.txt,归档文件,3,2024/1/2,2024/1/3,2024/1/4"));
    EXPECT_EQ(FileListLine(QStringLiteral("/d/文件 名.txt"), Record(0, 0)),
              QStringLiteral("/d/文件 名.txt,文件 名.txt,未知，属性代码：0,0,2024/1/2,2024/1/3,2024/1/4"));
    EXPECT_EQ(FileListLine(QStringLiteral("/d/big"), Record(5000000000LL, 0x20)),
              QStringLiteral("/d/big,big,归档文件,5000000000,2024/1/2,2024/1/3,2024/1/4"));
    EXPECT_EQ(FileListLine(QString(), Record(0, 0)).count(QLatin1Char(',')), 6) << "empty fields keep their places";
}

TEST(FileListLineTest, FieldsThatWouldSplitTheRowAreQuoted)
{
    EXPECT_EQ(FileListLine(QStringLiteral("/d,e/a.txt"), Record(1, 0x20)),
              QStringLiteral("\"/d,e/a.txt\",a.txt,归档文件,1,2024/1/2,2024/1/3,2024/1/4"));
    EXPECT_EQ(FileListLine(QStringLiteral("/d/b,c.txt"), Record(1, 0x20)),
              QStringLiteral("\"/d/b,c.txt\",\"b,c.txt\",归档文件,1,2024/1/2,2024/1/3,2024/1/4"));
    EXPECT_EQ(FileListLine(QStringLiteral("/d/say \"hi\""), Record(1, 0x20)),
              QStringLiteral("\"/d/say \"\"hi\"\"\",\"say \"\"hi\"\"\",归档文件,1,2024/1/2,2024/1/3,2024/1/4"));
    EXPECT_EQ(FileListLine(QStringLiteral("/d/a\nb\rc"), Record(1, 0x20)),
              QStringLiteral("\"/d/a\nb\rc\",\"a\nb\rc\",归档文件,1,2024/1/2,2024/1/3,2024/1/4"));
    // An apostrophe is no quote character: the field stays as it is.
    EXPECT_EQ(FileListLine(QStringLiteral("/d/x'y"), Record(1, 0x20)),
              QStringLiteral("/d/x'y,x'y,归档文件,1,2024/1/2,2024/1/3,2024/1/4"));
}

TEST_F(FileInfoTest, ListFileIsUtf8WithoutBomAndCrLfAfterEveryLine)
{
    const QString file = Path(QStringLiteral("list.csv"));
    {
        FileListWriter out(file);
        out.WriteLine(QStringLiteral("文件名,短文件名"));
        out.WriteLine(QStringLiteral("a,b"));
        out.Close();
    }
    EXPECT_EQ(testutil::ReadFile(file), QByteArray("\xE6\x96\x87\xE4\xBB\xB6\xE5\x90\x8D,"
                                                   "\xE7\x9F\xAD\xE6\x96\x87\xE4\xBB\xB6\xE5\x90\x8D\r\na,b\r\n"));
}

TEST_F(FileInfoTest, ListFileReplacesAnOldFileOnlyWhenClosed)
{
    const QString file = Path(QStringLiteral("list.csv"));
    testutil::WriteFile(file, QByteArray(1000, 'o'));
    {
        FileListWriter out(file);
        out.WriteLine(QStringLiteral("header"));
    }
    EXPECT_EQ(testutil::ReadFile(file), QByteArray(1000, 'o'));
    FileListWriter out(file);
    out.WriteLine(QStringLiteral("header"));
    out.Close();
    EXPECT_EQ(testutil::ReadFile(file), QByteArray("header\r\n"));
}

TEST_F(FileInfoTest, ListFileThatCantBeCreatedThrowsWhenParentIsARegularFile)
{
    const QString blocker = Path(QStringLiteral("plain"));
    testutil::WriteFile(blocker, "x");
    try {
        FileListWriter out(blocker + QStringLiteral("/list.csv"));
        FAIL() << "created a file under a regular file";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("无法创建文件“") + blocker));
    }
}

TEST_F(FileInfoTest, ADeviceAtTheListsNameIsNeverReplaced)
{
    FileListWriter out(QStringLiteral("/dev/full"));
    out.WriteLine(QStringLiteral("header"));
    EXPECT_THROW(out.Close(), ListFileError);
    struct stat st {};
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

}  // namespace

#include "FileInfo.h"

#include "folder_services.h"

#include <QDate>
#include <QFile>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <ctime>
#include <stdexcept>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <QFileInfo>
#endif

namespace {

const QString& NoDate()
{
    static const QString text = QStringLiteral("0000/00/00");
    return text;
}

// The date in the user's short date format. A tree's files share few dates,
// so each day is formatted once; the format itself is the system's and fixed
// for the life of the process.
QString DateText(const QDate& date)
{
    thread_local QHash<qint64, QString> cache;
    const qint64 day = date.toJulianDay();
    auto found = cache.constFind(day);
    if (found != cache.constEnd())
        return *found;
    if (cache.size() > 4096)
        cache.clear();
    static const QLocale locale = QLocale::system();
    static const QString format = locale.dateFormat(QLocale::ShortFormat);
    return *cache.insert(day, locale.toString(date, format));
}

// The local date of a moment, with the time-zone rules in force on that date
// (a summer file written at 23:30 shows that day, not the next). localtime_r
// reads the zone rules once per process; plain localtime would look at the
// zone file again for every call when TZ is unset, which costs more than all
// the other work on a file.
QDate LocalDate(std::int64_t secondsSinceEpoch)
{
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC).date();
    return QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

QString LocalDateText(std::int64_t secondsSinceEpoch)
{
    return DateText(LocalDate(secondsSinceEpoch));
}

void ZeroRecord(FileInfo& info)
{
    info.FileSize = 0;
    info.FileAttInt = 0;
    info.CreateTime = NoDate();
    info.ViewTime = NoDate();
    info.ModifyTime = NoDate();
    info.ExcludeAttr = 0;
}

// Names starting with "." are what Linux users hide; "." and ".." name the
// folder itself, not a hidden entry.
bool IsHiddenName(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    const qsizetype start = path.lastIndexOf(QLatin1Char('/'), end - 1) + 1;
    const QStringView name = QStringView(path).mid(start, end - start);
    return name.startsWith(QLatin1Char('.')) && name != u"." && name != u"..";
}

}  // namespace

#if defined(__linux__)

namespace {

// The base word of an entry's kind; a symbolic link adds the reparse bit to
// the kind of what it leads to (a link to a folder is a folder entry, as in
// the folder walk), any other link is a file.
std::int32_t KindBits(mode_t mode, const std::string& encoded)
{
    if (S_ISDIR(mode))
        return fileatt::Directory;
    if (S_ISREG(mode))
        return fileatt::Archive;
    if (S_ISLNK(mode)) {
        struct stat target {};
        const bool toFolder = ::stat(encoded.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        return fileatt::ReparsePoint | (toFolder ? fileatt::Directory : fileatt::Archive);
    }
    return fileatt::System;  // device, FIFO, socket
}

}  // namespace

void ReadFileInfo(const QString& path, FileInfo& info)
{
    // One statx per entry gives size, mode and all three times. The entry
    // itself is described, not what a symbolic link leads to, just as a
    // directory search reports the link's own entry: its size is the link's
    // and its dates are the link's. Only for a link is a second call made, to
    // learn whether it leads to a folder.
    std::string encoded;
    try {
        encoded = EncodePath(path);
    } catch (const std::exception&) {
        encoded.clear();  // no name on the disk is spelt so
    }
    struct statx st {};
    if (encoded.empty()
        || ::statx(AT_FDCWD, encoded.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT,
                   STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
        ZeroRecord(info);
        return;
    }
    std::int32_t att = KindBits(st.stx_mode, encoded);
    if (!S_ISLNK(st.stx_mode) && (st.stx_mode & S_IWUSR) == 0)
        att |= fileatt::ReadOnly;
    if (IsHiddenName(path))
        att |= fileatt::Hidden;

    info.FileSize = static_cast<std::int64_t>(st.stx_size);
    info.FileAttInt = att;
    info.ExcludeAttr = 0;
    // Where the file system keeps no birth time, the last write stands in.
    const bool haveBirth = (st.stx_mask & STATX_BTIME) != 0 && (st.stx_btime.tv_sec != 0 || st.stx_btime.tv_nsec != 0);
    info.CreateTime = LocalDateText(haveBirth ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec);
    info.ModifyTime = LocalDateText(st.stx_mtime.tv_sec);
    info.ViewTime = LocalDateText(st.stx_atime.tv_sec);
}

#else

void ReadFileInfo(const QString& path, FileInfo& info)
{
    const QFileInfo fi(path);
    if (path.isEmpty() || (!fi.exists() && !fi.isSymLink())) {
        ZeroRecord(info);
        return;
    }
    std::int32_t att = fi.isDir() ? fileatt::Directory : fi.isFile() ? fileatt::Archive : fileatt::System;
    if (fi.isSymLink())
        att |= fileatt::ReparsePoint;
    if (!fi.isWritable())
        att |= fileatt::ReadOnly;
    if (IsHiddenName(path))
        att |= fileatt::Hidden;
    info.FileSize = fi.size();
    info.FileAttInt = att;
    info.ExcludeAttr = 0;
    const QDateTime birth = fi.birthTime();
    const QDateTime modified = fi.lastModified();
    info.CreateTime = LocalDateText((birth.isValid() ? birth : modified).toSecsSinceEpoch());
    info.ModifyTime = LocalDateText(modified.toSecsSinceEpoch());
    info.ViewTime = LocalDateText(fi.lastRead().toSecsSinceEpoch());
}

#endif

QString FileAttToText(std::int32_t att)
{
    switch (att) {
    case -1: return QStringLiteral("无效文件");
    case 0x1: return QStringLiteral("只读文件");
    case 0x2: return QStringLiteral("隐藏文件");
    case 0x4: return QStringLiteral("系统文件");
    case 0x8: return QStringLiteral("卷标文件");
    case 0x10: return QStringLiteral("目录文件");
    case 0x20: return QStringLiteral("归档文件");
    case 0x40: return QStringLiteral("保留文件");
    case 0x80: return QStringLiteral("正常文件");
    case 0x100: return QStringLiteral("临时文件");
    case 0x1FF: return QStringLiteral("任意文件");
    case 0x200: return QStringLiteral("稀疏文件");
    case 0x400: return QStringLiteral("超链接或快捷方式");
    case 0x800: return QStringLiteral("压缩文件");
    case 0x1000: return QStringLiteral("脱机文件");
    case 0x2000: return QStringLiteral("索引文件");
    case 0x4000: return QStringLiteral("加密文件");
    case 0x10000: return QStringLiteral("虚拟文件");
    default: return QStringLiteral("未知，属性代码：") + QString::number(att);
    }
}

namespace {

// A field that would break the row apart is quoted, its quotes doubled, so
// that a spreadsheet always sees seven columns; any other field is kept as is.
void AppendField(QString& line, const QString& field, bool first = false)
{
    if (!first)
        line += QLatin1Char(',');
    const bool needsQuotes = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
                             || field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'));
    if (!needsQuotes) {
        line += field;
        return;
    }
    line += QLatin1Char('"');
    line += QString(field).replace(QLatin1Char('"'), QStringLiteral("\"\""));
    line += QLatin1Char('"');
}

}  // namespace

QString FileListLine(const QString& path, const FileInfo& info)
{
    QString line;
    line.reserve(2 * path.size() + 64);
    AppendField(line, path, true);
    AppendField(line, BareFileName(path));
    AppendField(line, FileAttToText(info.FileAttInt));
    AppendField(line, QString::number(info.FileSize));
    AppendField(line, info.CreateTime);
    AppendField(line, info.ViewTime);
    AppendField(line, info.ModifyTime);
    return line;
}

namespace {
constexpr qsizetype kBufferSize = 64 * 1024;
}

FileListWriter::FileListWriter(const QString& fileName) : fileName_(fileName)
{
    try {
        file_ = std::make_unique<safefile::NewFile>(EncodePath(fileName));
    } catch (const std::exception& e) {
        throw std::runtime_error(
            QStringLiteral("无法创建文件“%1”：%2").arg(fileName, QString::fromUtf8(e.what())).toStdString());
    }
    fd_ = file_->Get();
    buffer_.reserve(kBufferSize + 4096);
}

FileListWriter::FileListWriter(StandardOutput) : fileName_(QStringLiteral("standard output")), fd_(1)
{
    buffer_.reserve(kBufferSize + 4096);
}

FileListWriter::~FileListWriter() = default;

void FileListWriter::Fail(const std::exception& cause)
{
    file_.reset();  // the earlier list of that name stays
    fd_ = -1;
    throw ListFileError((QStringLiteral("写入列表文件") + fileName_ + QStringLiteral("发生错误，错误原因:")
                         + QString::fromUtf8(cause.what()))
                            .toStdString());
}

void FileListWriter::WriteLine(const QString& line)
{
    buffer_ += ReadableUtf8(line);
    buffer_ += "\r\n";
    if (buffer_.size() >= kBufferSize)
        Flush();
}

void FileListWriter::Flush()
{
    if (fd_ < 0)
        throw ListFileError(QStringLiteral("写入列表文件%1发生错误").arg(fileName_).toStdString());
    try {
        safefile::WriteAll(fd_, buffer_.constData(), static_cast<std::size_t>(buffer_.size()));
    } catch (const std::exception& e) {
        Fail(e);
    }
    buffer_.clear();
}

void FileListWriter::Close()
{
    if (fd_ < 0)
        return;
    Flush();
    if (file_) {
        try {
            file_->Commit();
        } catch (const std::exception& e) {
            Fail(e);
        }
        file_.reset();
    }
    fd_ = -1;
}

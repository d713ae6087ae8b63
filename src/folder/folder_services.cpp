// The widget-free half of the folder services: path conversions, path parts
// and the flat file list of a tree. The command-line program links this alone.
#include "folder_services.h"

#include <algorithm>

#include "CodePage.h"
#include "DirWalk.h"

#include <QFile>

std::string EncodePath(const QString& path)
{
    std::string bytes;
    const std::u16string_view text(reinterpret_cast<const char16_t*>(path.utf16()), static_cast<size_t>(path.size()));
    if (!codepage::UnescapedBytes(text, bytes))
        throw dirwalk::PathError(dirwalk::kNotSupported);
    return bytes;
}

QString DecodePath(const std::string& path)
{
    if (codepage::IsAscii(path))
        return QString::fromLatin1(path.data(), static_cast<qsizetype>(path.size()));
    const std::u16string text = codepage::EscapedUtf16(path);
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

QString ReadablePath(const QString& path)
{
    // Read through a const view: most names hold no lone surrogate, and
    // those leave the text shared instead of copied.
    QString text = path;
    const QChar* at = path.constData();
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (at[i].isHighSurrogate() && i + 1 < path.size() && at[i + 1].isLowSurrogate())
            ++i;  // a pair is one real character
        else if (at[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

QByteArray ReadableUtf8(const QString& text)
{
    return ReadablePath(text).toUtf8();
}

QString SpecialFileReason()
{
    return QStringLiteral("不是普通文件（管道、套接字或设备），不能读取");
}

ListedBox ListInBox(const QString& firstLine, const QStringList& entries)
{
    ListedBox box{firstLine, {}};
    for (qsizetype i = 0; i < entries.size() && i < kListedInBox; ++i)
        box.text += QLatin1Char('\n') + entries[i];
    if (entries.size() > kListedInBox) {
        box.text += QStringLiteral("\n……另有 %1 个").arg(entries.size() - kListedInBox);
        box.details = entries.join(QLatin1Char('\n'));
    }
    return box;
}

QString FolderSkipReason(dirwalk::FolderSkip why)
{
    return why == dirwalk::FolderSkip::TooLong ? QStringLiteral("路径过长的文件夹") : QStringLiteral("无法读取的文件夹");
}

QString OutsideLinkReason()
{
    return QStringLiteral("指向文件夹外的符号链接");
}

QString DanglingLinkReason()
{
    return QStringLiteral("无效的符号链接");
}

ListedBox SpecialFilesBox(const QList<LeftOutFile>& files)
{
    const bool allSpecial = std::all_of(files.begin(), files.end(),
                                        [](const LeftOutFile& f) { return f.reason == SpecialFileReason(); });
    QStringList entries;
    for (const LeftOutFile& f : files)
        entries << (allSpecial ? f.file : f.file + QStringLiteral("（原因：") + f.reason + QStringLiteral("）"));
    return ListInBox(allSpecial
                         ? QStringLiteral("有%1个文件不是普通文件（管道、套接字或设备），没有处理：").arg(files.size())
                         : QStringLiteral("有%1个文件或文件夹没有处理：").arg(files.size()),
                     entries);
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString BareFileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FolderPart(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString GetNameWithoutExt(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QStringList DecodePaths(const std::vector<std::string>& paths)
{
    QStringList list;
    list.reserve(static_cast<qsizetype>(paths.size()));
    for (const std::string& p : paths)
        list.append(DecodePath(p));
    return list;
}

QStringList GetAllFiles(const QString& folder, const SkippedFolder& skipped)
{
    QStringList files;
    dirwalk::ForEachFile(
        EncodePath(folder), [&files](const std::string& path) { files.append(DecodePath(path)); },
        [&skipped](const std::string& path, dirwalk::FolderSkip why) {
            if (skipped)
                skipped(DecodePath(path), FolderSkipReason(why));
        });
    return files;
}

// The widget-free half of the folder services: path conversions, path parts
// and the flat file list of a tree. The command-line program links this alone.
#include "folder_services.h"

#include "DirWalk.h"

#include <QFile>

std::string EncodePath(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (QFile::decodeName(bytes) != path)
        throw dirwalk::PathError(dirwalk::kNotSupported);
    return bytes.toStdString();
}

QString DecodePath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromRawData(path.data(), static_cast<qsizetype>(path.size())));
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

QStringList GetAllFiles(const QString& folder)
{
    return DecodePaths(dirwalk::AllFiles(EncodePath(folder)));
}

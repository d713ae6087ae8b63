#include "ListBatch.h"

#include "FileInfo.h"

#include <exception>

namespace listbatch {

QString AllFilesHeader()
{
    return QStringLiteral("文件名,短文件名,属性,文件大小,创建时间,最近访问时间,最近修改时间");
}

QString CheckedFilesHeader()
{
    return QStringLiteral("长文件名,短文件名,属性,文件大小,创建时间,最近访问时间,最近修改时间");
}

bool WriteRows(FileListWriter& out, const batch::Entries& entries, const batch::Hooks& hooks)
{
    FileInfo info;  // one record reused for every file
    return batch::Walk(entries, hooks, [&](const QString& path, qsizetype index) {
        hooks.Starting(path, index);
        try {
            ReadFileInfo(path, info);
            out.WriteLine(FileListLine(path, info));
        } catch (const ListFileError&) {
            throw;  // the list itself failed: that ends the export
        } catch (const std::exception& e) {
            if (!hooks.GoOnAfter({path, QString::fromUtf8(e.what())}))
                return false;
            return true;
        }
        hooks.Done(path, index);
        return true;
    });
}

}  // namespace listbatch

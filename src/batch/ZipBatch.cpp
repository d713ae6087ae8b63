#include "ZipBatch.h"

#include "folder_services.h"

#include <exception>

namespace zipbatch {

namespace {

// Closing after a failure only releases the file; its own failure would hide the first one.
void CloseQuietly(ZipArchive& zip)
{
    try {
        zip.Close();
    } catch (const std::exception&) {
    }
}

}  // namespace

bool IsZipArchive(const QString& path)
{
    const QString name = BareFileName(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && name.mid(dot) == QLatin1String(".zip");
}

void ZipFolder(const QString& archive, const QString& folder, const ZipProgress& progress, const batch::Hooks& hooks,
               const QString& password)
{
    std::vector<std::string> special;
    ZipArchive::ZipDirectoryContents(EncodePath(archive), EncodePath(folder), ZipMethod::Deflate, progress, &special,
                                     password.toStdString());
    for (const std::string& path : special)
        if (hooks.leftOut)
            hooks.leftOut(DecodePath(path));
}

bool ZipEntries(ZipArchive& zip, const QString& archive, const batch::Entries& entries, const batch::Hooks& hooks)
{
    zip.Open(EncodePath(archive), ZipMode::Write);
    const bool finished = batch::Walk(entries, hooks, [&](const QString& path, qsizetype index) {
        if (hooks.LeavesOut(path))
            return true;
        hooks.Starting(path, index);
        try {
            zip.Add(EncodePath(path), std::string(), ZipMethod::Deflate);
        } catch (const std::exception& e) {
            if (!hooks.GoOnAfter({path, QString::fromUtf8(e.what()), AddFailed})) {
                // No partial archive: an earlier one of that name stays.
                zip.Abandon();
                return false;
            }
        }
        hooks.Done(path, index);
        return true;
    });
    if (finished)
        zip.Close();
    return finished;
}

bool ExtractEntries(ZipArchive& zip, const batch::Entries& entries, const std::optional<QString>& target,
                    const ZipProgress& progress, const batch::Hooks& hooks)
{
    return batch::Walk(entries, hooks, [&](const QString& path, qsizetype index) {
        if (hooks.LeavesOut(path))
            return true;
        hooks.Starting(path, index);
        int stage = OpenFailed;
        try {
            zip.Open(EncodePath(path), ZipMode::Read);
            stage = ExtractFailed;
            zip.SetOnProgress(progress);
            // A bare archive name lies in the working folder.
            const QString beside = FolderPart(path).isEmpty() ? QStringLiteral(".") : FolderPart(path);
            zip.ExtractAll(EncodePath(target ? *target : beside));
            zip.Close();
        } catch (const std::exception& e) {
            CloseQuietly(zip);
            if (!hooks.GoOnAfter({path, QString::fromUtf8(e.what()), stage}))
                return false;
        }
        hooks.Done(path, index);
        return true;
    });
}

}  // namespace zipbatch

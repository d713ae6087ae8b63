#include "ZipBatch.h"

#include "folder_services.h"

#include <cerrno>
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

// The password for the archive open in zip: the batch's last right one when
// it opens this archive too, else what ask gives until one opens it. Nothing
// when none does; *lastTried receives the last one given, if any.
std::optional<QString> PasswordFor(const ZipArchive& zip, const QString& path, const AskPassword& ask,
                                   const QString& lastRight, std::optional<QString>* lastTried)
{
    lastTried->reset();
    if (!lastRight.isEmpty() && zip.PasswordOpens(lastRight.toStdString()))
        return lastRight;
    for (bool again = false; ask; again = true) {
        const std::optional<QString> password = ask(path, again);
        if (!password)
            return std::nullopt;
        *lastTried = password;
        if (zip.PasswordOpens(password->toStdString()))
            return password;
    }
    return std::nullopt;
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
    QList<LeftOutFile> leftOut;
    const auto skipped = [&leftOut](const std::string& path, reach::Skip why) {
        leftOut.append({DecodePath(path), batch::SkipReason(why)});
    };
    const dirwalk::OnSkippedFolder skippedFolder = [&leftOut](const std::string& path, dirwalk::FolderSkip why) {
        leftOut.append({DecodePath(path), FolderSkipReason(why)});
    };
    ZipArchive::ZipDirectoryContents(EncodePath(archive), EncodePath(folder), ZipMethod::Deflate, progress, skipped,
                                     skippedFolder, password.toStdString());
    for (const LeftOutFile& file : leftOut)
        hooks.LeaveOut(file.file, file.reason);
}

bool ZipEntries(ZipArchive& zip, const QString& archive, const batch::Entries& entries, const batch::Hooks& hooks,
                const batch::Sources& sources)
{
    zip.Open(EncodePath(archive), ZipMode::Write);
    const bool finished = batch::Walk(entries, hooks, [&](const QString& path, qsizetype index) {
        hooks.Starting(path, index);
        try {
            zip.Add(EncodePath(path), std::string(), ZipMethod::Deflate, sources.Root());
        } catch (const reach::Refused& r) {
            hooks.LeaveOut(path, batch::SkipReason(r.Why()));
            return true;
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

namespace {

// The archive opened for reading: beside, its folder first, below the
// sources' folder, and the archive inside that folder. False when it is left out.
bool OpenArchive(ZipArchive& zip, const QString& path, const std::optional<safefile::Folder>& beside,
                 const batch::Sources& sources, const batch::Hooks& hooks)
{
    std::optional<safefile::Source> archive = beside ? sources.OpenIn(*beside, path, hooks) : sources.Open(path, hooks);
    if (!archive)
        return false;
    const std::uint64_t size = archive->Size();
    zip.OpenRead(archive->Take(), size, EncodePath(path));
    return true;
}

// The system's text for a failure to open, with a folder swapped for a link named as such.
QString OpenFailureText(const QString& path, const safefile::Error& e)
{
    return QStringLiteral("无法打开") + path + QStringLiteral("：") +
           (e.Code() == EXDEV ? OutsideLinkReason() : QString::fromUtf8(e.what()));
}

}  // namespace

bool ExtractEntries(ZipArchive& zip, const batch::Entries& entries, const std::optional<QString>& target,
                    const ZipProgress& progress, const batch::Hooks& hooks, const batch::Sources& sources,
                    const AskPassword& ask, WrongPassword wrong)
{
    QString lastRight;
    return batch::Walk(entries, hooks, [&](const QString& path, qsizetype index) {
        hooks.Starting(path, index);
        int stage = OpenFailed;
        try {
            // A bare archive name lies in the working folder.
            const QString folder = FolderPart(path).isEmpty() ? QStringLiteral(".") : FolderPart(path);
            std::optional<safefile::Folder> beside;
            if (!target)
                beside = sources.Root().OpenFolder(EncodePath(folder));
            if (!OpenArchive(zip, path, beside, sources, hooks))
                return true;
            zip.SetPassword({});
            if (zip.NeedsPassword()) {
                std::optional<QString> tried;
                const std::optional<QString> password = PasswordFor(zip, path, ask, lastRight, &tried);
                if (password) {
                    lastRight = *password;
                    zip.SetPassword(password->toStdString());
                } else if (tried && wrong == WrongPassword::ExtractOthers) {
                    // Each member it doesn't open fails on its own and is named.
                    zip.SetPassword(tried->toStdString());
                } else {
                    zip.Close();
                    const QString why = tried ? QStringLiteral("密码不正确") : QStringLiteral("没有输入密码");
                    if (!hooks.GoOnAfter({path, QStringLiteral("压缩文件") + path + QStringLiteral("已加密，") + why +
                                                    QStringLiteral("，已跳过"), NoPassword}))
                        return false;
                    hooks.Done(path, index);
                    return true;
                }
            }
            stage = ExtractFailed;
            zip.SetOnProgress(progress);
            if (beside)
                zip.ExtractAll(*beside);
            else
                zip.ExtractAll(EncodePath(*target));
            zip.Close();
        } catch (const std::exception& e) {
            CloseQuietly(zip);
            const auto* error = dynamic_cast<const safefile::Error*>(&e);
            if (!hooks.GoOnAfter({path, error ? OpenFailureText(path, *error) : QString::fromUtf8(e.what()), stage}))
                return false;
        }
        hooks.Done(path, index);
        return true;
    });
}

}  // namespace zipbatch

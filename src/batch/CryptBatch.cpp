#include "CryptBatch.h"

#include "CodePage.h"
#include "folder_services.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace cryptbatch {

namespace {

std::runtime_error Failure(const QString& message)
{
    return std::runtime_error(message.toUtf8().toStdString());
}

}  // namespace

QString FlatTargetPath(const QString& targetFolder, const QString& source)
{
    return JoinPath(targetFolder, BareFileName(source));
}

QString TreeTargetPath(const QString& folderText, const QString& targetFolder, const QString& source)
{
    const qsizetype at = source.indexOf(folderText, 0, Qt::CaseSensitive);
    if (folderText.isEmpty() || at < 0)
        return source;  // every listed path begins with the folder text; nothing to replace otherwise
    QString replacement = targetFolder;
    if (folderText.endsWith(QLatin1Char('/')) && !targetFolder.endsWith(QLatin1Char('/')))
        replacement += QLatin1Char('/');
    QString target = source;
    target.replace(at, folderText.size(), replacement);
    return target;
}

void EnsureTargetFolder(const QString& target)
{
    const QString folder = FolderPart(target);
    if (folder.isEmpty())
        return;
    const std::filesystem::path path(EncodePath(folder));
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return;
    std::filesystem::create_directories(path, error);
    if (error)
        throw Failure(QStringLiteral("创建文件夹发生错误，错误原因:") + QString::fromLocal8Bit(error.message()));
}

DesFileResult CryptFile(Direction direction, const QString& source, const QString& target, const QString& password,
                        const DesProgress& progress)
{
    const std::string key = codepage::Utf8ToAnsi(password.toUtf8().toStdString());
    std::string sourcePath;
    std::string targetPath;
    try {
        sourcePath = EncodePath(source);
        targetPath = EncodePath(target);
    } catch (const std::runtime_error& e) {
        return {false, e.what()};
    }
    return direction == Direction::Encrypt ? DesEncryptFile(sourcePath, targetPath, key, progress)
                                           : DesDecryptFile(sourcePath, targetPath, key, progress);
}

OperationLog::OperationLog(const QString& targetFolder) : file_(JoinPath(targetFolder, QStringLiteral("note.txt")))
{
    // Unbuffered: every line is on disk before the next file's step, which
    // also makes a write failure show at the line that caused it.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw Failure(QStringLiteral("创建日志文件") + file_.fileName() + QStringLiteral("发生错误，错误原因:")
                      + file_.errorString());
}

QByteArray OperationLog::Line(Direction direction, const QString& source, const QString& target)
{
    const QString label = direction == Direction::Encrypt ? QStringLiteral("加密文件:") : QStringLiteral("解密文件:");
    return (QStringLiteral("源文件:") + source + QLatin1Char(',') + label + target + QStringLiteral("\r\n")).toUtf8();
}

void OperationLog::Write(Direction direction, const QString& source, const QString& target)
{
    const QByteArray line = Line(direction, source, target);
    if (file_.write(line) != line.size())
        throw Failure(QStringLiteral("写入日志文件") + file_.fileName() + QStringLiteral("发生错误，错误原因:")
                      + file_.errorString());
}

QString MissingTargetsText(const std::vector<MissingTarget>& missing)
{
    QString text = QStringLiteral("有%1个文件没有生成目标文件：").arg(missing.size());
    int listed = 0;
    for (const MissingTarget& file : missing) {
        if (listed == kMaxListedMissing) {
            text += QStringLiteral("\n…");
            break;
        }
        text += QLatin1Char('\n') + file.source + QStringLiteral("（原因：") + file.reason + QStringLiteral("）");
        ++listed;
    }
    return text;
}

std::optional<QString> PasswordRefusal(const QString& password)
{
    if (password.isEmpty())
        return QStringLiteral("密码为空值");
    const int codePage = codepage::AnsiCodePage();
    for (const char32_t c : password.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        if (c != U'?' && codepage::Utf8ToAnsi(one.toUtf8().toStdString(), codePage) == "?")
            return QStringLiteral("密码中含有当前代码页（%1）无法表示的字符：").arg(codePage) + one;
    }
    return std::nullopt;
}

CryptRun::CryptRun(CryptJob job) : job_(std::move(job)), log_(job_.targetFolder)
{
}

bool CryptRun::Walk(const batch::Entries& entries, const batch::Hooks& hooks)
{
    return batch::Walk(entries, hooks, [&](const QString& source, qsizetype index) {
        hooks.Starting(source, index);
        if (!Step(source, hooks))
            return false;
        hooks.Done(source, index);
        return true;
    });
}

bool CryptRun::Step(const QString& source, const batch::Hooks& hooks)
{
    const bool tree = job_.layout == Layout::Tree;
    const QString target = tree ? TreeTargetPath(job_.folderText, job_.targetFolder, source)
                                : FlatTargetPath(job_.targetFolder, source);
    if (tree) {
        log_.Write(job_.direction, source, target);
        try {
            EnsureTargetFolder(target);
        } catch (const std::exception& e) {
            return hooks.GoOnAfter({source, QString::fromUtf8(e.what()), FolderFailed});
        }
    }
    std::optional<batch::Failure> failure;
    try {
        const DesFileResult result =
            CryptFile(job_.direction, source, target, job_.password, [&](std::uint64_t done, std::uint64_t total) {
                if (hooks.bytes)
                    hooks.bytes(source, done, total);
            });
        if (!result)
            failure = batch::Failure{source, QString::fromUtf8(result.reason), NoTarget};
    } catch (const std::exception& e) {
        failure = batch::Failure{source, QString::fromUtf8(e.what()), StepRaised};
    }
    if (failure && !hooks.GoOnAfter(*failure))
        return false;
    if (!tree)
        log_.Write(job_.direction, source, target);
    return true;
}

}  // namespace cryptbatch

#include "CryptBatch.h"

#include "CodePage.h"
#include "folder_services.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <stdexcept>

namespace cryptbatch {

namespace {

const QString kLinkInTheWay = QStringLiteral("目标文件夹是符号链接，未写入");
const QString kIsTheLog = QStringLiteral("目标是本批次的日志文件note.txt，未写入");
const QString kSameTarget = QStringLiteral("目标文件与本批次的另一个文件同名，未写入");
const std::string kLogName = "note.txt";

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

TargetTree::TargetTree(const QString& targetFolder) : path_(targetFolder)
{
    try {
        root_ = safefile::Folder::Open(EncodePath(targetFolder));
    } catch (const std::exception& e) {
        throw Failure(QStringLiteral("打开目标文件夹") + targetFolder + QStringLiteral("发生错误，错误原因:")
                      + QString::fromUtf8(e.what()));
    }
}

std::optional<safefile::Folder> TargetTree::FolderFor(const QString& target, QString* why) const
{
    const QString folder = FolderPart(target);
    if (!folder.startsWith(path_))
        return root_;  // every target path starts with the chosen folder
    try {
        return root_.Sub(EncodePath(folder.mid(path_.size())), true);
    } catch (const safefile::Error& e) {
        if (e.Code() != ELOOP)
            throw Failure(QStringLiteral("创建文件夹发生错误，错误原因:") + QString::fromUtf8(e.what()));
        *why = kLinkInTheWay;
        return std::nullopt;
    }
}

DesFileResult CryptFile(Direction direction, safefile::Source& source, const safefile::Folder& folder,
                        const QString& target, const QString& password, const OperationLog& log,
                        const DesProgress& progress)
{
    const std::string key = codepage::Utf8ToAnsi(password.toUtf8().toStdString());
    std::string name;
    try {
        name = EncodePath(BareFileName(target));
    } catch (const std::runtime_error& e) {
        return {false, e.what()};
    }
    if (log.Is(folder, name))
        return {false, kIsTheLog.toUtf8().toStdString()};
    return direction == Direction::Encrypt ? DesEncryptFile(source, folder, name, key, progress)
                                           : DesDecryptFile(source, folder, name, key, progress);
}

OperationLog::OperationLog(const safefile::Folder& targetFolder)
    : folder_(targetFolder), path_(DecodePath(targetFolder.PathOf(kLogName)))
{
    // Only where there is none: an earlier log stays until Begin.
    const int fd = ::openat(folder_.Get(), kLogName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            safefile::DefaultMode());
    if (fd >= 0)
        ::close(fd);
}

void OperationLog::Begin()
{
    try {
        safefile::NewFile log(folder_, kLogName);
        file_ = log.CommitKeepOpen();
        id_ = safefile::IdOf(file_.Get());
    } catch (const std::exception& e) {
        throw Failure(QStringLiteral("创建日志文件") + path_ + QStringLiteral("发生错误，错误原因:")
                      + QString::fromUtf8(e.what()));
    }
}

bool OperationLog::Is(const safefile::Folder& folder, const std::string& name) const
{
    return file_.Valid() && safefile::NameHolds(folder, name, id_);
}

namespace {

// A path on one line: CR, LF, TAB and the other C0 controls (and DEL) become U+FFFD.
QString OneLine(QString path)
{
    for (QChar& c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(QChar::ReplacementCharacter);
    return path;
}

}  // namespace

QByteArray OperationLog::Line(Direction direction, const QString& source, const QString& target, const QString& note)
{
    const QString label = direction == Direction::Encrypt ? QStringLiteral("加密文件:") : QStringLiteral("解密文件:");
    const QString why = note.isEmpty() ? QString() : QStringLiteral("（") + note + QStringLiteral("）");
    return ReadableUtf8(QStringLiteral("源文件:") + OneLine(source) + QLatin1Char(',') + label + OneLine(target) + why +
                        QStringLiteral("\r\n"));
}

void OperationLog::Write(Direction direction, const QString& source, const QString& target, const QString& note)
{
    if (!file_.Valid())
        throw Failure(QStringLiteral("写入日志文件") + path_ + QStringLiteral("发生错误，错误原因:") +
                      QString::fromUtf8(safefile::Error(EBADF).what()));
    const QByteArray line = Line(direction, source, target, note);
    try {
        safefile::WriteAll(file_.Get(), line.constData(), static_cast<std::size_t>(line.size()));
    } catch (const safefile::Error& e) {
        throw Failure(QStringLiteral("写入日志文件") + path_ + QStringLiteral("发生错误，错误原因:")
                      + QString::fromUtf8(e.what()));
    }
}

ListedBox MissingTargetsBox(const std::vector<MissingTarget>& missing)
{
    QStringList entries;
    for (const MissingTarget& file : missing)
        entries << file.source + QStringLiteral("（原因：") + file.reason + QStringLiteral("）");
    return ListInBox(QStringLiteral("有%1个文件没有生成目标文件：").arg(missing.size()), entries);
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

CryptRun::CryptRun(CryptJob job)
    : job_(std::move(job)),
      targets_(job_.targetFolder),
      log_(targets_.Root())
{
}

bool CryptRun::Walk(const batch::Entries& entries, const batch::Hooks& hooks)
{
    // The files are listed by now: the folder they are read below is opened,
    // then the earlier log replaced.
    if (!job_.sourceFolder.isEmpty())
        sources_ = batch::Sources(job_.sourceFolder);
    log_.Begin();
    return batch::Walk(entries, hooks, [&](const QString& source, qsizetype index) {
        hooks.Starting(source, index);
        if (!Step(source, hooks))
            return false;
        hooks.Done(source, index);
        return true;
    });
}

namespace {

// Why a source that isn't left out could not be opened, as the cipher words it.
QString OpenFailure(const std::exception& e)
{
    const auto* error = dynamic_cast<const safefile::Error*>(&e);
    const bool missing = error && (error->Code() == ENOENT || error->Code() == EISDIR || error->Code() == ENODEV);
    return (missing ? QStringLiteral("源文件不存在或不是文件：") : QStringLiteral("无法读取源文件：")) +
           QString::fromUtf8(e.what());
}

}  // namespace

bool CryptRun::Step(const QString& source, const batch::Hooks& hooks)
{
    std::optional<safefile::Source> in;
    std::optional<batch::Failure> failure;
    try {
        in = sources_.Open(source, hooks);
        if (!in)
            return true;  // left out, and named
    } catch (const std::exception& e) {
        failure = batch::Failure{source, OpenFailure(e), NoTarget};
    }
    const bool tree = job_.layout == Layout::Tree;
    const QString target = tree ? TreeTargetPath(job_.folderText, job_.targetFolder, source)
                                : FlatTargetPath(job_.targetFolder, source);
    if (tree)
        log_.Write(job_.direction, source, target);
    QString note;
    if (!failure && !tree && written_.contains(target)) {
        failure = batch::Failure{source, kSameTarget, NoTarget};
        note = kSameTarget;
    }
    if (!failure)
        failure = Crypt(*in, source, target, hooks);
    if (failure && !hooks.GoOnAfter(*failure))
        return false;
    if (!tree) {
        if (!failure)
            written_.insert(target);
        log_.Write(job_.direction, source, target, note);
    }
    return true;
}

std::optional<batch::Failure> CryptRun::Crypt(safefile::Source& in, const QString& source, const QString& target,
                                              const batch::Hooks& hooks)
{
    // The tree layout makes the target's folder first; a link in its place
    // gives no target.
    std::optional<safefile::Folder> folder;
    QString why;
    try {
        folder = targets_.FolderFor(target, &why);
    } catch (const std::exception& e) {
        return batch::Failure{source, QString::fromUtf8(e.what()), FolderFailed};
    }
    if (!folder)
        return batch::Failure{source, why, NoTarget};
    try {
        in.Restat();  // its work begins now: a log inside the tree holds its own line
        const DesFileResult result = CryptFile(job_.direction, in, *folder, target, job_.password, log_,
                                               [&](std::uint64_t done, std::uint64_t total) {
                                                   if (hooks.bytes)
                                                       hooks.bytes(source, done, total);
                                               });
        if (!result)
            return batch::Failure{source, QString::fromUtf8(result.reason), NoTarget};
    } catch (const std::exception& e) {
        return batch::Failure{source, QString::fromUtf8(e.what()), StepRaised};
    }
    return std::nullopt;
}

}  // namespace cryptbatch

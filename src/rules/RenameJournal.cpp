#include "RenameJournal.h"
#include "ErrnoText.h"

#include "FileRename.h"
#include "SafeFile.h"
#include "folder_services.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line per rename, each path as its file-system bytes, percent-encoded, so
// any name (spaces, line breaks, bytes that are not UTF-8) survives the round trip.
const QByteArray kHeader = "velmora rename journal 1";
const QByteArray kFolderTag = "folder ";

QByteArray Field(const QString& path)
{
    return QByteArray::fromStdString(EncodePath(path)).toPercentEncoding();
}

QString Unfield(const QByteArray& field)
{
    return DecodePath(QByteArray::fromPercentEncoding(field).toStdString());
}

QByteArray Serialise(const RenameJournalContents& contents)
{
    QByteArray text = kHeader + '\n' + kFolderTag + Field(contents.folder) + '\n';
    for (const RenameStep& step : contents.renames)
        text += Field(step.oldPath) + ' ' + Field(step.newPath) + '\n';
    return text;
}

[[noreturn]] void Fail(const QString& what, int error)
{
    throw std::runtime_error((what + QStringLiteral("：") + QString::fromStdString(platform::ErrnoText(error))).toStdString());
}

// Puts the whole journal in place through the layer every finished file goes
// through; its data reaches the disk before it takes its name, also when there
// was no journal before, so a crash leaves the old journal or the whole new one.
void ReplaceAtomically(const QString& target, const QByteArray& bytes)
{
    try {
        safefile::NewFile file(EncodePath(target));
        file.SetMode(0600);
        file.Write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        if (::fsync(file.Get()) != 0)
            throw safefile::Error(errno);
        file.Commit();
    } catch (const safefile::Error& e) {
        Fail(target, e.Code());
    }
}

}  // namespace

QString RenameJournalPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))  // the base directory rules ignore a relative value
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/velmora/rename-journal");
}

std::optional<RenameJournalContents> LoadRenameJournal(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() < 2 || lines[0] != kHeader || !lines[1].startsWith(kFolderTag))
        return std::nullopt;
    RenameJournalContents contents;
    contents.folder = Unfield(lines[1].mid(kFolderTag.size()));
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QList<QByteArray> fields = lines[i].split(' ');
        if (fields.size() != 2)
            return std::nullopt;  // not written by us: undo nothing rather than guess
        contents.renames.push_back({Unfield(fields[0]), Unfield(fields[1])});
    }
    if (contents.renames.empty())
        return std::nullopt;
    return contents;
}

bool HasRenameJournal(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.readLine().trimmed();
    const QByteArray folder = file.readLine();
    return header == kHeader && folder.startsWith(kFolderTag) && !file.readLine().trimmed().isEmpty();
}

void SaveRenameJournal(const RenameJournalContents& contents, const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    // Our own folder is private to the user: the journal lists file names.
    QDir().mkpath(QFileInfo(folder).absolutePath());
    if (::mkdir(EncodePath(folder).c_str(), 0700) != 0 && errno != EEXIST)
        Fail(folder, errno);
    ReplaceAtomically(path, Serialise(contents));
}

void ClearRenameJournal(const QString& path)
{
    const QByteArray name = QByteArray::fromStdString(EncodePath(path));
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        Fail(path, errno);
}

RenameRun::RenameRun(QString folder, QString path) : path_(std::move(path))
{
    contents_.folder = std::move(folder);
}

void RenameRun::Rename(const RenameStep& step)
{
    if (step.oldPath == step.newPath)
        return;
    if (const auto reason = RenameNoReplace(step.oldPath, step.newPath))
        throw std::runtime_error(RenameFailureMessage(step.oldPath, *reason).toStdString());
    contents_.renames.push_back(step);
}

void RenameRun::Save() const
{
    if (!contents_.renames.empty())
        SaveRenameJournal(contents_, path_);
}

std::vector<UndoFailure> UndoRenames(const std::vector<RenameStep>& renames)
{
    std::vector<UndoFailure> failed;
    for (auto step = renames.rbegin(); step != renames.rend(); ++step)
        if (const auto reason = RenameNoReplace(step->newPath, step->oldPath))
            failed.push_back({*step, *reason});
    return failed;
}

void RunRenamePlan(const RenamePlan& plan, const QString& folder, const std::function<bool(int)>& afterEach,
                   const QString& journalPath)
{
    if (const auto failure = PlanFailure(plan))
        throw std::runtime_error(failure->toStdString());
    RenameRun run(folder, journalPath);
    std::exception_ptr failure;
    try {
        for (std::size_t i = 0; i < plan.size(); ++i) {
            run.Rename(plan[i]);
            if (afterEach && !afterEach(static_cast<int>(i)))
                break;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        run.Save();
    } catch (const std::exception& e) {
        if (!failure)
            throw std::runtime_error(QStringLiteral("文件已改名，但改名记录无法保存，无法撤销：").toStdString() + e.what());
    }
    if (failure)
        std::rethrow_exception(failure);
}

#include "RenameJournal.h"

#include "ErrnoText.h"
#include "StateFiles.h"
#include "folder_services.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <cerrno>

namespace {

// One line per rename: the file's folder below the batch's folder ("." for
// the folder itself), its old and its new name, each as file-system bytes,
// percent-encoded so that any name (spaces, line breaks, bytes that are not
// UTF-8) survives; then the file's device and inode in decimal.
const QByteArray kHeaderStem = "velmora rename journal ";
const QByteArray kHeader = kHeaderStem + "2";
const QByteArray kFolderTag = "folder ";
const QByteArray kTop = ".";

QByteArray Field(const QByteArray& bytes)
{
    return bytes.toPercentEncoding();
}

QByteArray Bytes(const QString& path)
{
    return QByteArray::fromStdString(EncodePath(path));
}

QString Text(const QByteArray& bytes)
{
    return DecodePath(bytes.toStdString());
}

// A folder path without a trailing "/" (but "/" itself).
QString Trimmed(QString folder)
{
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

// The folder below `folder` that `dir` is, "." for the folder itself; nothing
// when dir lies outside it.
std::optional<QString> Below(const QString& dir, const QString& folder)
{
    if (dir == folder)
        return QString::fromLatin1(kTop);
    const QString prefix = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
    if (!dir.startsWith(prefix))
        return std::nullopt;
    return dir.mid(prefix.size());
}

QString Absolute(const QString& path)
{
    return QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
}

// One part of a path: no "/", not empty, not "." or "..".
bool OnePart(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

bool RelativeFolder(const QByteArray& rel)
{
    if (rel == kTop)
        return true;
    for (const QByteArray& part : rel.split('/'))
        if (!OnePart(part))
            return false;
    return true;
}

[[noreturn]] void Refuse(const QString& path, const QString& why)
{
    throw JournalRefused(
        (QStringLiteral("改名记录无法使用，未撤销任何改名：") + path + QStringLiteral("（") + why + QStringLiteral("）"))
            .toStdString());
}

JournalEntry ParseEntry(const QByteArray& line, const QString& folder, const QString& path, int number)
{
    const QList<QByteArray> fields = line.split(' ');
    bool devOk = false, inoOk = false;
    const JournalEntry parsed{{}, {fields.size() == 5 ? fields[3].toULongLong(&devOk) : 0,
                                   fields.size() == 5 ? fields[4].toULongLong(&inoOk) : 0}};
    if (!devOk || !inoOk)
        Refuse(path, QStringLiteral("第 %1 行无法识别").arg(number));
    const QByteArray rel = QByteArray::fromPercentEncoding(fields[0]);
    const QByteArray from = QByteArray::fromPercentEncoding(fields[1]);
    const QByteArray to = QByteArray::fromPercentEncoding(fields[2]);
    // A file outside the batch's folder, or a name that reaches into another
    // folder, is nothing a batch of ours renamed.
    if (!RelativeFolder(rel) || !OnePart(from) || !OnePart(to) || from == to)
        Refuse(path, QStringLiteral("第 %1 行的文件不在文件夹“%2”中").arg(number).arg(folder));
    const QString dir = rel == kTop ? folder : JoinPath(folder, Text(rel));
    JournalEntry entry = parsed;
    entry.step = {JoinPath(dir, Text(from)), JoinPath(dir, Text(to))};
    return entry;
}

}  // namespace

QString RenameJournalPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state)) {  // the base directory rules ignore a relative value
        // Without a home of its own the user has no place for it: never "/" instead.
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home) || !QFileInfo(home).isDir())
            throw std::runtime_error(
                QStringLiteral("没有保存改名记录的位置：HOME 未设置、不是绝对路径或不是文件夹，XDG_STATE_HOME 也未设置")
                    .toStdString());
        state = Trimmed(home) + QStringLiteral("/.local/state");
    }
    return Trimmed(state) + QStringLiteral("/velmora/rename-journal");
}

bool HasRenameJournal()
{
    try {
        return QFileInfo(RenameJournalPath()).size() > 0;
    } catch (const std::exception&) {
        return false;
    }
}

QByteArray SerialiseJournal(const RenameJournalContents& contents)
{
    QByteArray text = kHeader + '\n' + kFolderTag + Field(Bytes(contents.folder)) + '\n';
    text.reserve(text.size() + qsizetype(contents.renames.size()) * 64);
    // A batch's files come folder by folder: the folder's field is worked out once per run of them.
    QString lastDir;
    QByteArray relField;
    for (const JournalEntry& e : contents.renames) {
        const QString dir = Trimmed(FolderPart(e.step.oldPath));
        if (relField.isEmpty() || dir != lastDir) {
            const auto rel = Below(dir, contents.folder);
            if (!rel)
                throw std::logic_error("a journalled file outside the batch's folder");
            relField = Field(*rel == QLatin1String(kTop) ? kTop : Bytes(*rel));
            lastDir = dir;
        }
        text.append(relField).append(' ');
        text.append(Field(Bytes(BareFileName(e.step.oldPath)))).append(' ');
        text.append(Field(Bytes(BareFileName(e.step.newPath)))).append(' ');
        text.append(QByteArray::number(qulonglong(e.id.dev))).append(' ');
        text.append(QByteArray::number(qulonglong(e.id.ino))).append('\n');
    }
    return text;
}

RenameJournalContents ParseJournal(const QByteArray& bytes, const QString& path)
{
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines[0] != kHeader) {
        Refuse(path, lines[0].startsWith(kHeaderStem) ? QStringLiteral("记录的格式版本不同，可能由旧版本写成")
                                                      : QStringLiteral("不是改名记录"));
    }
    if (lines.size() < 2 || !lines[1].startsWith(kFolderTag))
        Refuse(path, QStringLiteral("第 2 行无法识别"));
    RenameJournalContents contents;
    contents.folder = Text(QByteArray::fromPercentEncoding(lines[1].mid(kFolderTag.size())));
    if (!QDir::isAbsolutePath(contents.folder) || contents.folder != Trimmed(contents.folder))
        Refuse(path, QStringLiteral("第 2 行无法识别"));
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (!lines[i].isEmpty() || i + 1 < lines.size())
            contents.renames.push_back(ParseEntry(lines[i], contents.folder, path, int(i + 1)));
    }
    if (contents.renames.empty())
        Refuse(path, QStringLiteral("没有改名"));
    return contents;
}

RenameJournalContents JournalOfPlan(const RenamePlan& plan, const QString& folder,
                                    const std::vector<RenameIdentity>* ids)
{
    RenameJournalContents journal{Trimmed(Absolute(folder)), {}};
    for (const RenameStep& step : plan) {
        if (step.oldPath == step.newPath)
            continue;
        const RenameStep full{Absolute(step.oldPath), Absolute(step.newPath)};
        const QString dir = Trimmed(FolderPart(full.oldPath));
        if (dir != Trimmed(FolderPart(full.newPath)))
            throw std::runtime_error(RenameFailureMessage(step.oldPath, QStringLiteral("新名称不能含有“/”")).toStdString());
        while (!Below(dir, journal.folder))
            journal.folder = Trimmed(FolderPart(journal.folder));
        if (ids) {
            journal.renames.push_back({full, ids->at(journal.renames.size())});
            continue;
        }
        std::optional<safefile::FileId> id;
        try {
            id = safefile::IdAt(EncodePath(full.oldPath));
        } catch (const safefile::Error& e) {
            throw std::runtime_error(RenameFailureMessage(step.oldPath, QString::fromUtf8(e.what())).toStdString());
        }
        if (!id)
            throw std::runtime_error(RenameFailureMessage(step.oldPath, QString::fromStdString(platform::ErrnoText(ENOENT))).toStdString());
        journal.renames.push_back({full, {std::uint64_t(id->dev), std::uint64_t(id->ino)}});
    }
    return journal;
}

RenameJournalLock::RenameJournalLock(const QString& journalPath) : lock_(std::make_unique<safefile::FileLock>())
{
    const std::string path = EncodePath(journalPath);
    safefile::MakePrivateFolder(safefile::FolderOf(path));
    if (!lock_->TryLock(path + ".lock"))
        throw std::runtime_error(QStringLiteral("另一个批量改名或撤销正在进行").toStdString());
}

RenameJournalLock::~RenameJournalLock() = default;

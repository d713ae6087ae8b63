#include "CliCommands.h"

#include "CliPassword.h"
#include "CliReport.h"
#include "CryptBatch.h"
#include "FileInfo.h"
#include "ListBatch.h"
#include "RenameBatch.h"
#include "RenameJournal.h"
#include "ZipBatch.h"
#include "folder_services.h"

#include <climits>
#include <csignal>
#include <cstring>
#include <exception>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// A failure that keeps the batch from starting: its message and status 2.
struct NotStarted {
    QString message;
};

int Finish(Reporter& report)
{
    if (Reporter::StopRequested()) {
        report.Error(QStringLiteral("批处理已被中断，其余文件未处理"));
        return kSomeFailed;
    }
    return report.Failures() > 0 ? kSomeFailed : kAllDone;
}

// A path the rename journal can name from any working folder later.
QString Absolute(const QString& path)
{
    if (path.startsWith(QLatin1Char('/')))
        return path;
    std::string here(PATH_MAX, '\0');
    if (!getcwd(here.data(), here.size()))
        throw NotStarted{QStringLiteral("无法确定当前文件夹")};
    here.resize(std::strlen(here.c_str()));
    return JoinPath(DecodePath(here), path);
}

Options WithAbsolutePaths(Options o)
{
    if (o.folder)
        o.folder = Absolute(*o.folder);
    for (QString& file : o.operands)
        file = Absolute(file);
    return o;
}

void RequireFolder(const QString& folder, const QString& what)
{
    struct stat st {};
    if (stat(EncodePath(folder).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw NotStarted{what + QStringLiteral("不存在或不是文件夹：") + folder};
}

// The FILE... operands that a batch can take. A folder, FIFO, socket or
// device named on the command line is named and left out, as a tree's are:
// reading a FIFO would wait forever. A missing file is left to the batch,
// which reports it like the window does.
QStringList RegularFiles(const QStringList& files, Reporter& report)
{
    QStringList kept;
    for (const QString& file : files) {
        struct stat st {};
        if (stat(EncodePath(file).c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            report.Failed(file, QStringLiteral("不是普通文件，已跳过"));
        else
            kept << file;
    }
    return kept;
}

// The files of the batch: the tree's, in the window's order, or the operands.
// A subfolder the walk passes over is named and fails the batch.
QStringList BatchFiles(const Options& o, Reporter& report, qsizetype skipOperands = 0)
{
    if (o.folder) {
        RequireFolder(*o.folder, QStringLiteral("文件夹"));
        return GetAllFiles(*o.folder, [&report](const QString& folder, const QString& reason) {
            report.Failed(folder, reason);
        });
    }
    return RegularFiles(o.operands.mid(skipOperands), report);
}

// The password of the batch, read and checked before anything is written.
QString CheckedPassword(const Options& o, bool confirm)
{
    const PasswordRead read = ReadPassword(o, confirm);
    if (!read.error.isEmpty())
        throw NotStarted{read.error};
    if (const auto refusal = cryptbatch::PasswordRefusal(read.password))
        throw NotStarted{*refusal};
    return read.password;
}

int Crypt(const Options& o, cryptbatch::Direction direction)
{
    RequireFolder(*o.target, QStringLiteral("目标文件夹"));
    const bool encrypt = direction == cryptbatch::Direction::Encrypt;
    const QString password = CheckedPassword(o, encrypt);
    if (o.folder)
        RequireFolder(*o.folder, QStringLiteral("文件夹"));
    Reporter report(o.verbose);
    // The log comes first: a target folder inside the tree lists it as one of the tree's files.
    cryptbatch::CryptRun run({direction, o.folder ? cryptbatch::Layout::Tree : cryptbatch::Layout::Flat,
                              password, *o.target, o.folder.value_or(QString()), o.folder.value_or(QString())});
    const QStringList files = BatchFiles(o, report);
    report.SetTotal(files.size());
    run.Walk(batch::Entries::Of(files), report.Hooks(true));
    run.Close();
    return Finish(report);
}

int Zip(const Options& o)
{
    const QString archive = o.operands.first();
    // Without a password option the archive is not encrypted, and nothing is asked.
    const QString password =
        o.password || o.passwordFile || o.askPassword ? CheckedPassword(o, true) : QString();
    Reporter report(o.verbose);
    if (o.folder) {
        RequireFolder(*o.folder, QStringLiteral("文件夹"));
        zipbatch::ZipFolder(archive, *o.folder, report.ArchiveProgress(), report.Hooks(true), password);
        report.EndArchive();
        return Finish(report);
    }
    const QStringList files = BatchFiles(o, report, 1);
    report.SetTotal(files.size());
    ZipArchive zip(report.ArchiveProgress());
    zip.SetPassword(password.toStdString());
    zipbatch::ZipEntries(zip, archive, batch::Entries::Of(files), report.Hooks(true));
    return Finish(report);
}

int Unzip(const Options& o)
{
    if (o.target)
        RequireFolder(*o.target, QStringLiteral("目标文件夹"));
    Reporter report(o.verbose);
    const QStringList archives = RegularFiles(o.operands, report);
    report.SetTotal(archives.size());
    ZipArchive zip;
    // The password is read when the first encrypted archive needs it, and
    // once: instead of asking again after a wrong one, the members it doesn't
    // open are named and not written, the others extract, and the status is 1.
    std::optional<PasswordRead> read;
    const zipbatch::AskPassword ask = [&](const QString&, bool again) -> std::optional<QString> {
        if (again)
            return std::nullopt;
        if (!read) {
            read = ReadPassword(o, false);
            if (!read->error.isEmpty())
                report.Error(read->error);
        }
        if (!read->error.isEmpty())
            return std::nullopt;
        return read->password;
    };
    zipbatch::ExtractEntries(zip, batch::Entries::Of(archives), o.target, {}, report.Hooks(true), {}, ask,
                             zipbatch::WrongPassword::ExtractOthers);
    return Finish(report);
}

int List(const Options& o)
{
    Reporter report(o.verbose);
    const QStringList files = BatchFiles(o, report);
    report.SetTotal(files.size());
    std::optional<FileListWriter> out;
    if (o.output)
        out.emplace(*o.output);
    else
        out.emplace(FileListWriter::StandardOutput{});
    out->WriteLine(o.folder ? listbatch::AllFilesHeader() : listbatch::CheckedFilesHeader());
    listbatch::WriteRows(*out, batch::Entries::Of(files), report.Hooks(true));
    out->Close();
    return Finish(report);
}

RenameRule RuleOf(const Options& o)
{
    RenameRule rule;
    if (o.rule) {
        rule.changeType = 1;
        if (const auto why = renamebatch::TakeNumberedRule(*o.rule, rule.numbered))
            throw NotStarted{*why};
    } else {
        rule.changeType = 2;
        rule.oldstr = *o.replaceOld;
        rule.replacestr = o.replaceNew;
        rule.replaceType = o.first ? ReplaceFirst : ReplaceAll;
        if (const auto why = renamebatch::CheckReplaceRule(rule.oldstr, rule.replacestr))
            throw NotStarted{*why};
    }
    return rule;
}

// For the tests of kills and races: with VELMORA_TEST_PAUSE=N a rename batch
// or its undo stops itself (SIGSTOP) once it has done N files, so that a test
// can send a signal or start another batch before it goes on (SIGCONT).
void PauseForTests(int done)
{
    static const int pauseAt = qEnvironmentVariableIntValue("VELMORA_TEST_PAUSE");
    if (pauseAt > 0 && done == pauseAt)
        std::raise(SIGSTOP);
}

// The folder the journal names for the undo: the tree's, or the first file's.
QString JournalFolder(const Options& o, const QStringList& files)
{
    if (o.folder)
        return *o.folder;
    return files.isEmpty() ? Absolute(QStringLiteral(".")) : FolderPart(files.first());
}

int Rename(const Options& given)
{
    const RenameRule rule = RuleOf(given);
    const Options o = WithAbsolutePaths(given);
    Reporter report(o.verbose);
    const QStringList files = BatchFiles(o, report);
    const RenamePlan plan = PlanRenames(files, rule);
    if (o.dryRun) {
        for (const RenameStep& step : plan)
            report.Print(step.oldPath + QStringLiteral(" -> ") + step.newPath);
        // The same check as before a real batch, so a dry run tells whether it would be refused.
        if (const auto refusal = PlanFailure(plan)) {
            report.Error(*refusal);
            return kSomeFailed;
        }
        return Finish(report);
    }
    report.SetTotal(static_cast<qsizetype>(plan.size()));
    const batch::Hooks hooks = report.Hooks(false);
    try {
        // As in the window: the whole plan is checked first, the first refused
        // rename ends the batch, and what was renamed goes into the shared journal.
        RunRenamePlan(plan, JournalFolder(o, files), [&](int i) {
            hooks.Done(plan[static_cast<std::size_t>(i)].oldPath, i);
            PauseForTests(i + 1);
            return !hooks.StopRequested();
        });
    } catch (const std::exception& e) {
        report.Error(QString::fromUtf8(e.what()));
        return kSomeFailed;
    }
    return Finish(report);
}

int UndoRename(const Options& o)
{
    RenameUndo undo;  // another batch running, or a journal that can't be trusted, starts nothing
    if (!undo.Pending())
        throw NotStarted{QStringLiteral("没有可撤销的批量改名")};
    Reporter report(o.verbose);
    const auto& renames = undo.Journal().renames;
    report.SetTotal(static_cast<qsizetype>(renames.size()));
    const batch::Hooks hooks = report.Hooks(true);
    int done = 0;
    // What could not be undone is named and left as it is.
    for (const UndoFailure& failure : undo.Run([&](int i) {
             hooks.Done(renames[static_cast<std::size_t>(i)].step.newPath, i);
             PauseForTests(++done);
             return !hooks.StopRequested();
         }))
        report.Failed(failure.step.newPath, failure.reason);
    return Finish(report);
}

}  // namespace

int RunCommand(const Options& o)
{
    Reporter::CatchInterrupt();
    const QString& c = o.command;
    try {
        if (c == QLatin1String("encrypt"))
            return Crypt(o, cryptbatch::Direction::Encrypt);
        if (c == QLatin1String("decrypt"))
            return Crypt(o, cryptbatch::Direction::Decrypt);
        if (c == QLatin1String("zip"))
            return Zip(o);
        if (c == QLatin1String("unzip"))
            return Unzip(o);
        if (c == QLatin1String("list"))
            return List(o);
        if (c == QLatin1String("rename"))
            return Rename(o);
        return UndoRename(o);
    } catch (const NotStarted& e) {
        Reporter(false).Error(e.message);
    } catch (const std::exception& e) {
        Reporter(false).Error(QString::fromUtf8(e.what()));
    }
    return kNotStarted;
}

}  // namespace cli

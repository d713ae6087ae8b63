// A rename batch with its journal written ahead, and the undo that reads the
// disk to learn what the batch did.
#include "RenameJournal.h"

#include "ErrnoText.h"
#include "FileRename.h"
#include "Reach.h"
#include "StateFiles.h"
#include "folder_services.h"

#include <algorithm>
#include <cerrno>
#include <map>

namespace {

const QString kNoRecord = QStringLiteral("改名记录无法保存，未改名任何文件：");

std::runtime_error Failure(const QString& text)
{
    return std::runtime_error(text.toStdString());
}

QString SystemText(int error)
{
    return QString::fromStdString(platform::ErrnoText(error));
}

QString Where(const QString& path, const safefile::Error& e)
{
    return path + QStringLiteral("：") + QString::fromUtf8(e.what());
}

// The journal the batch replaces, put back when the batch ends before its
// first rename, so the batch before it can still be undone.
class PreviousJournal {
public:
    explicit PreviousJournal(std::string path) : path_(std::move(path))
    {
        try {
            previous_ = safefile::ReadWhole(path_);
        } catch (const safefile::Error&) {
            // Not a journal we could put back: ours replaces it for good.
        }
    }
    void PutBack() const
    {
        try {
            if (previous_)
                safefile::WriteDurably(path_, previous_->bytes);
            else if (const auto ours = safefile::IdAt(path_))
                safefile::RemoveIfStill(path_, *ours);
        } catch (const safefile::Error&) {
            // What stays is a plan of which nothing was done: its undo changes nothing.
        }
    }

private:
    std::string path_;
    std::optional<safefile::WholeFile> previous_;
};

// The folders of a batch's (or a journal's) files, each opened once from the
// batch's folder by the one way in that never leaves it, so a link put in
// place of a subfolder since the listing leads nowhere outside.
class JournalFolders {
public:
    explicit JournalFolders(const QString& folder) : folder_(folder) {}

    // The folder of a file, or the system's error for why it can't be reached.
    const safefile::Folder* Of(const QString& file, int& error)
    {
        const QString dir = FolderPart(file);
        auto found = opened_.find(dir);
        if (found == opened_.end()) {
            Entry entry;
            try {
                if (!root_.HasFolder())
                    root_ = reach::Root(EncodePath(folder_));
                entry.folder = root_.OpenFolder(EncodePath(dir));
            } catch (const safefile::Error& e) {
                entry.error = e.Code();
            }
            found = opened_.emplace(dir, entry).first;
        }
        error = found->second.error;
        return error == 0 ? &found->second.folder : nullptr;
    }

private:
    struct Entry {
        safefile::Folder folder;
        int error = 0;
    };
    QString folder_;
    reach::Root root_;
    std::map<QString, Entry> opened_;
};

// Renames the steps in order, each in its folder reached below the batch's
// folder; renamed turns true once a file has taken its new name.
void RenameSteps(const RenamePlan& plan, const QString& folder, const std::function<bool(int)>& afterEach,
                 bool& renamed)
{
    JournalFolders folders(folder);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const RenameStep& step = plan[i];
        if (step.oldPath != step.newPath) {
            int error = 0;
            const safefile::Folder* in = folders.Of(step.oldPath, error);
            if (!in)
                throw Failure(RenameFailureMessage(step.oldPath, SystemText(error)));
            if (const auto reason = RenameNoReplace(*in, step.oldPath, step.newPath))
                throw Failure(RenameFailureMessage(step.oldPath, *reason));
            renamed = true;
        }
        if (afterEach && !afterEach(static_cast<int>(i)))
            break;
    }
}

// Locks the journal at given (empty: where the environment puts it) and
// returns its path; the batch is refused when there is no place for it.
QString LockJournal(const QString& given, std::optional<RenameJournalLock>& lock)
{
    QString path = given;
    try {
        if (path.isEmpty())
            path = RenameJournalPath();
    } catch (const std::runtime_error& e) {
        throw Failure(kNoRecord + QString::fromUtf8(e.what()));
    }
    try {
        lock.emplace(path);
    } catch (const safefile::Error& e) {
        throw Failure(kNoRecord + Where(FolderPart(path), e));
    }
    return path;
}

}  // namespace

void RunRenamePlan(const RenamePlan& plan, const QString& folder, const std::function<bool(int)>& afterEach,
                   const QString& journalPath)
{
    bool renamed = false;
    if (std::none_of(plan.begin(), plan.end(), [](const RenameStep& s) { return s.oldPath != s.newPath; })) {
        RenameSteps(plan, folder, afterEach, renamed);  // every name kept: no journal, the last one stays
        return;
    }
    std::optional<RenameJournalLock> lock;
    const QString path = LockJournal(journalPath, lock);
    std::vector<RenameIdentity> ids;
    if (const auto failure = PlanFailure(plan, &ids))
        throw Failure(*failure);
    const RenameJournalContents journal = JournalOfPlan(plan, folder, &ids);
    const std::string file = EncodePath(path);
    const PreviousJournal previous(file);
    try {
        safefile::WriteDurably(file, SerialiseJournal(journal).toStdString());
    } catch (const safefile::Error& e) {
        throw Failure(kNoRecord + Where(path, e));
    }
    try {
        RenameSteps(plan, folder, afterEach, renamed);
    } catch (...) {
        if (!renamed)
            previous.PutBack();
        throw;
    }
    if (!renamed)
        previous.PutBack();
}

namespace {

enum class Found { AtNewName, AtOldName, Elsewhere };

// Where the file of a journal entry is now; reason says why when neither of its names holds it.
Found Locate(JournalFolders& folders, const JournalEntry& e, QString& reason)
{
    int error = 0;
    const safefile::Folder* folder = folders.Of(e.step.oldPath, error);
    if (!folder) {
        reason = SystemText(error);
        return Found::Elsewhere;
    }
    const safefile::FileId id{static_cast<dev_t>(e.id.dev), static_cast<ino_t>(e.id.ino)};
    try {
        const auto atNew = safefile::IdIn(*folder, EncodePath(BareFileName(e.step.newPath)));
        if (atNew && *atNew == id)
            return Found::AtNewName;
        if (safefile::IdIn(*folder, EncodePath(BareFileName(e.step.oldPath))) == id)
            return Found::AtOldName;
        reason = atNew ? QStringLiteral("这个名称下已是另一个文件") : SystemText(ENOENT);
    } catch (const safefile::Error& e) {
        reason = SystemText(e.Code());
    }
    return Found::Elsewhere;
}

}  // namespace

RenameUndo::RenameUndo(const QString& journalPath)
{
    try {
        path_ = journalPath.isEmpty() ? RenameJournalPath() : journalPath;
    } catch (const std::runtime_error&) {
        return;  // no place for a journal: nothing to undo
    }
    try {
        if (!safefile::IdAt(EncodePath(path_)))
            return;
    } catch (const safefile::Error&) {
        return;  // no folder for a journal where the environment points
    }
    std::optional<safefile::WholeFile> file;
    try {
        lock_.emplace(path_);
        file = safefile::ReadWhole(EncodePath(path_));
    } catch (const safefile::Error& e) {
        throw Failure(QStringLiteral("改名记录无法读取：") + Where(path_, e));
    }
    if (!file || file->bytes.empty())
        return;
    journal_ = ParseJournal(QByteArray::fromStdString(file->bytes), path_);
    journalId_ = {std::uint64_t(file->id.dev), std::uint64_t(file->id.ino)};
}

RenameUndo::~RenameUndo() = default;

int RenameUndo::DoneCount() const
{
    JournalFolders folders(journal_->folder);
    QString reason;
    int done = 0;
    for (const JournalEntry& e : journal_->renames)
        done += Locate(folders, e, reason) != Found::AtOldName;
    return done;
}

std::vector<UndoFailure> RenameUndo::Run(const std::function<bool(int)>& afterEach)
{
    JournalFolders folders(journal_->folder);
    std::vector<UndoFailure> failed;
    const auto& renames = journal_->renames;
    for (std::size_t i = renames.size(); i-- > 0;) {
        const JournalEntry& e = renames[i];
        QString reason;
        switch (Locate(folders, e, reason)) {
        case Found::AtNewName: {
            int error = 0;
            const safefile::Folder* in = folders.Of(e.step.oldPath, error);  // found there just now
            if (const auto refused = in ? RenameNoReplace(*in, e.step.newPath, e.step.oldPath) : SystemText(error))
                failed.push_back({e.step, *refused});
            break;
        }
        case Found::AtOldName:  // never renamed: the batch ended before it
            break;
        case Found::Elsewhere:
            failed.push_back({e.step, reason});
            break;
        }
        if (afterEach && !afterEach(static_cast<int>(i)))
            return failed;  // the journal stays: a later undo finishes the work
    }
    try {
        safefile::RemoveIfStill(EncodePath(path_),
                                {static_cast<dev_t>(journalId_.dev), static_cast<ino_t>(journalId_.ino)});
    } catch (const safefile::Error&) {
        // Left behind, it holds renames already undone: undoing it again changes nothing.
    }
    return failed;
}

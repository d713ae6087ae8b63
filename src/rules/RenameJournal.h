#pragma once
// The journal of the last rename batch, and its undo. Plain functions, no
// widgets: the window and the command line record and undo through these, so
// either one undoes what the other renamed.
//
// The journal is one small file, $XDG_STATE_HOME/velmora/rename-journal
// (~/.local/state/velmora/rename-journal when XDG_STATE_HOME is unset or not
// an absolute path), with a lock file beside it. It is written ahead: before
// the first rename it holds the batch's whole plan, each file with its
// folder, old and new name and identity (device and inode), on disk. The undo
// then works out from the disk which renames were done, whatever ended the
// batch (the stop button, a signal, a kill, a power cut). One batch or undo
// runs at a time: each holds the lock for its whole run, and a second one is
// refused at once.
//
// Running a batch (PlanRenames, RenamePlan.h, gives the plan):
//     RunRenamePlan(plan, folder, [&](int i) { /* progress */ return !stopped; });
// Undoing it:
//     RenameUndo undo;                      // the lock, and the journal checked whole
//     if (undo.Pending()) { ask; const auto failed = undo.Run({}); }

#include "RenamePlan.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace safefile {
class FileLock;
}


struct JournalEntry {
    RenameStep step;  // full paths; both in the same folder, inside the batch's folder
    RenameIdentity id;
    bool operator==(const JournalEntry&) const = default;
};

struct RenameJournalContents {
    QString folder;                     // the folder the batch ran on (absolute); every file lies inside it
    std::vector<JournalEntry> renames;  // the plan's renames in order; a name kept is not one
};

// A journal that can't be trusted: it doesn't parse, is of an older format,
// or names a file outside its folder or by more than one name part. It is
// refused whole and left where it is; what() is the message for the user.
class JournalRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The journal's path as the environment names it now. Throws
// std::runtime_error with the reason when it names no place for it: HOME
// unset, not absolute or not a folder, and XDG_STATE_HOME unset or relative.
QString RenameJournalPath();

// Whether there may be a journal to undo, without reading it (a menu asks
// this each time it opens). Never throws.
bool HasRenameJournal();

// The journal's bytes for contents, and contents back from them (throws
// JournalRefused naming path).
QByteArray SerialiseJournal(const RenameJournalContents& contents);
RenameJournalContents ParseJournal(const QByteArray& bytes, const QString& path);

// The plan of a batch as its journal: every step that changes a name, with
// the identity of the file at its old name now. A folder that doesn't hold
// every file is widened to the nearest one that does.
// Given ids (from CheckRenamePlan), they are the identities, not the disk.
RenameJournalContents JournalOfPlan(const RenamePlan& plan, const QString& folder,
                                    const std::vector<RenameIdentity>* ids = nullptr);

// The lock of the journal at path, held while the object lives: one batch or
// undo at a time. Throws std::runtime_error with "另一个批量改名或撤销正在进行"
// when another holds it, or the reason when the lock file can't be made.
class RenameJournalLock {
public:
    explicit RenameJournalLock(const QString& journalPath);
    ~RenameJournalLock();
    RenameJournalLock(const RenameJournalLock&) = delete;
    RenameJournalLock& operator=(const RenameJournalLock&) = delete;

private:
    std::unique_ptr<safefile::FileLock> lock_;
};

// The whole batch, under the journal's lock: CheckRenamePlan first (a fault
// throws std::runtime_error with the batch's failure message), then the
// journal of the plan on disk (a journal that can't be written throws the
// reason), then every step in order. afterEach(i) runs after step i
// (progress, stop button); false ends the batch there. A refusal that only
// shows while renaming throws its failure message and ends the batch at that
// file. Nothing is renamed unless the journal is on disk.
// An empty journalPath is RenameJournalPath().
void RunRenamePlan(const RenamePlan& plan, const QString& folder, const std::function<bool(int)>& afterEach,
                   const QString& journalPath = {});

struct UndoFailure {
    RenameStep step;  // the rename as the batch planned it (old path, new path)
    QString reason;   // why it could not be reversed
};

// The undo of the last batch: takes the journal's lock and reads the journal
// (throws JournalRefused, or std::runtime_error for the lock) at
// construction; holds the lock until destroyed. An empty journalPath is
// RenameJournalPath(); where the environment names none, nothing is pending.
class RenameUndo {
public:
    explicit RenameUndo(const QString& journalPath = {});
    ~RenameUndo();

    // A journal to undo was found.
    bool Pending() const { return journal_.has_value(); }
    const RenameJournalContents& Journal() const { return *journal_; }
    // How many renames the batch made, as far as the disk tells: all but
    // those whose file is still at its old name.
    int DoneCount() const;
    // Newest first: a file found at its new name with its identity is renamed
    // back, never over another file; one still at its old name is left; any
    // other is returned with the reason and left as it is. afterEach(i) runs
    // after entry i; false ends the undo there and keeps the journal for a
    // later one. Run to its end, the undo removes the journal it read (not
    // one that replaced it meanwhile).
    std::vector<UndoFailure> Run(const std::function<bool(int)>& afterEach);

private:
    QString path_;
    std::optional<RenameJournalLock> lock_;
    std::optional<RenameJournalContents> journal_;
    RenameIdentity journalId_;
};

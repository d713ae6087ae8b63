#pragma once
// The journal of the last rename batch, and its undo. Plain functions, no
// widgets: the window and the command line record and undo through these, so
// either one undoes what the other renamed.
//
// The journal is one small file, $XDG_STATE_HOME/velmora/rename-journal
// (~/.local/state/velmora/rename-journal when XDG_STATE_HOME is unset or not
// an absolute path). It holds the batch's folder and every rename the batch
// made, oldest first. It is replaced as a whole (temporary file, fsync,
// rename), so a crash leaves either the old journal or the new one. A batch
// that renamed nothing leaves the previous journal as it was.
//
// Running a batch (PlanRenames, RenamePlan.h, gives the plan):
//     RunRenamePlan(plan, folder, [&](int i) { /* progress */ return !stopped; });
// checks the whole plan first, renames, and saves the journal however the
// batch ends. RenameRun is the step-by-step form it is built on.
// Undoing it:
//     if (auto last = LoadRenameJournal()) {
//         const auto failed = UndoRenames(last->renames);     // newest first, never overwrites
//         ClearRenameJournal();
//     }

#include "RenamePlan.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

struct RenameJournalContents {
    QString folder;                   // the folder the batch was started on, for the undo's question
    std::vector<RenameStep> renames;  // the renames made, oldest first
};

// The journal's path as the environment names it now.
QString RenameJournalPath();

// The last batch's journal; nothing when there is none, it is empty or it
// can't be read as a journal.
std::optional<RenameJournalContents> LoadRenameJournal(const QString& path = RenameJournalPath());

// Whether there is a journal to undo, without reading all of it (a menu asks
// this each time it opens).
bool HasRenameJournal(const QString& path = RenameJournalPath());

// Replaces the journal with contents (its folder made when missing). Throws
// std::runtime_error with the system's text when it can't be written; the
// previous journal is then left as it was.
void SaveRenameJournal(const RenameJournalContents& contents, const QString& path = RenameJournalPath());

// Removes the journal; no journal is no failure.
void ClearRenameJournal(const QString& path = RenameJournalPath());

// The renames of one batch and their record.
class RenameRun {
public:
    explicit RenameRun(QString folder, QString path = RenameJournalPath());
    // Renames one file without replacing another. A refusal throws
    // std::runtime_error carrying RenameFailureMessage; a step that keeps its
    // name does nothing and is not recorded.
    void Rename(const RenameStep& step);
    // Writes the journal when this run renamed at least one file (throws as
    // SaveRenameJournal does); otherwise leaves the previous one alone.
    void Save() const;
    int Count() const { return static_cast<int>(contents_.renames.size()); }

private:
    RenameJournalContents contents_;
    QString path_;
};

// The whole batch: CheckRenamePlan first (a fault throws std::runtime_error
// with the batch's failure message and nothing is renamed), then every step in
// order through a RenameRun. afterEach(i) runs after step i (progress, stop
// button); false ends the batch there. A refusal that only shows while
// renaming throws its failure message and ends the batch at that file. The
// journal of what was renamed is saved on every way out; a journal that can't
// be written after a clean batch throws a message that says so.
void RunRenamePlan(const RenamePlan& plan, const QString& folder, const std::function<bool(int)>& afterEach,
                   const QString& journalPath = RenameJournalPath());

struct UndoFailure {
    RenameStep step;  // the rename as the batch made it (old path, new path)
    QString reason;   // the system's text for why it could not be reversed
};

// Reverses the renames newest first, each new path back to its old one, with
// the rename that never overwrites. A rename that can't be reversed (the old
// name is taken again, the file is gone) leaves its file as it is and is
// returned; the others go on.
std::vector<UndoFailure> UndoRenames(const std::vector<RenameStep>& renames);

#pragma once
// A rename batch as data, checked before anything moves. Plain functions, no
// widgets: the window's rename handlers and the command line share them, so
// both refuse the same batches with the same message.
//
// The order of a batch:
//   1. PlanRenames: every file with its new path (a file keeps its folder and
//      its extension; file k, counting from 0, takes number k of the rule).
//   2. CheckRenamePlan: replays the renames in order against the names that
//      exist now; a rename that would be refused (the new name is taken by a
//      file outside the batch, or by an earlier rename of the batch, or the
//      file is gone) is reported with the batch's failure message, and the
//      caller renames nothing.
//   3. Rename the steps one by one with a RenameJournal::Run (RenameJournal.h),
//      which records each rename for a later undo.

#include "RuleLanguage.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct RenameStep {
    QString oldPath;
    QString newPath;
    bool operator==(const RenameStep&) const = default;
};
using RenamePlan = std::vector<RenameStep>;

// Which file a rename moved: the device and inode of the name it had.
struct RenameIdentity {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool operator==(const RenameIdentity&) const = default;
};

// What the rule dialog (or the command line) hands over.
struct RenameRule {
    int changeType = 0;   // 1: numbered names; 2: replace a text; anything else: rename nothing
    strRule numbered;     // changeType 1
    QString oldstr;       // changeType 2: the text to find, and its replacement
    QString replacestr;
    int replaceType = 1;  // ReplaceFirst or any other value for every occurrence
};

// One step per file, in the files' order; empty for a rule that renames nothing.
// A step whose new path equals its old one is kept (the batch announces it) and
// renames nothing.
RenamePlan PlanRenames(const QStringList& files, const RenameRule& rule);

// "更改文件：" + old path + "的名称发生错误，错误原因:" + reason
QString RenameFailureMessage(const QString& oldPath, const QString& reason);

struct PlanFault {
    std::size_t index;  // the step that would be refused
    QString reason;     // the system's text for the error it would get (ErrnoText)
};

// Nothing when every step would succeed in order. Names outside the batch are
// looked up on disk (without following links); names the batch itself frees or
// takes are tracked as the replay goes. Given ids, it gets the identity of the
// file at the old name of each step that changes a name, in order, from the
// same look at the disk; a step whose file isn't there on disk is then a fault.
std::optional<PlanFault> CheckRenamePlan(const RenamePlan& plan, std::vector<RenameIdentity>* ids = nullptr);

// The batch's failure message for a fault of plan, or nothing when the plan is sound.
std::optional<QString> PlanFailure(const RenamePlan& plan, std::vector<RenameIdentity>* ids = nullptr);

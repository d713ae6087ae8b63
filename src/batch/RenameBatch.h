#pragma once
// The rule of a rename batch given as text (the command line's --rule and
// --replace), checked as the rule dialog checks what is typed into it. The
// plan, its check, the renames and their journal are RenamePlan.h and
// RenameJournal.h, shared with the window.

#include "RenamePlan.h"

#include <QString>
#include <optional>

namespace renamebatch {

// No character a file name may not hold, a well-formed rule, numbers that
// fit. Nothing when the rule is taken (into out), else the message.
std::optional<QString> TakeNumberedRule(const QString& text, strRule& out);
// Both texts of a replace rule non-empty and fit for a file name.
std::optional<QString> CheckReplaceRule(const QString& oldstr, const QString& replacestr);

}  // namespace renamebatch

#pragma once
// Renaming one file without ever replacing another. The kernel refuses the
// rename atomically when the new name exists (renameat2 with RENAME_NOREPLACE);
// where the file system can't do that, a hard link to the new name (which also
// fails when the name exists) followed by removing the old name does the same.
// There is no look-before-rename: another program could create the name in
// between.

#include <QString>
#include <optional>

// Renames oldPath to newPath. Nothing when it worked, else the system's text
// for the error (ErrnoText). A new path equal to the old one does nothing.
std::optional<QString> RenameNoReplace(const QString& oldPath, const QString& newPath);

// The link-and-unlink way on its own, for file systems without RENAME_NOREPLACE.
std::optional<QString> RenameByLink(const QString& oldPath, const QString& newPath);

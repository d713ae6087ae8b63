#pragma once
// Renaming one file without ever replacing another. The kernel refuses the
// rename atomically when the new name exists (renameat2 with RENAME_NOREPLACE);
// where the file system can't do that, a hard link to the new name (which also
// fails when the name exists) followed by removing the old name does the same.
// There is no look-before-rename: another program could create the name in
// between. Both names are taken in the open folder of the file, so a folder
// on the way swapped for a link meanwhile can't send the rename elsewhere.

#include "SafeFile.h"

#include <QString>
#include <optional>

// Renames oldPath to newPath, both paths inside folder (the file's own
// folder, opened below the batch's folder). Nothing when it worked, else the
// system's text for the error (ErrnoText). A new path equal to the old one
// does nothing.
std::optional<QString> RenameNoReplace(const safefile::Folder& folder, const QString& oldPath, const QString& newPath);

// The same with the old path's folder opened as named, for a file the user named.
std::optional<QString> RenameNoReplace(const QString& oldPath, const QString& newPath);

// The link-and-unlink way on its own, for file systems without RENAME_NOREPLACE.
std::optional<QString> RenameByLink(const QString& oldPath, const QString& newPath);

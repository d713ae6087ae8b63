#pragma once
// The file-list export: one CSV row per file, with the header of the
// whole-tree or of the checked-files list.

#include "BatchRun.h"

#include <QString>

class FileListWriter;

namespace listbatch {

QString AllFilesHeader();
QString CheckedFilesHeader();

// Writes one row per entry. A file whose information or row fails goes to
// hooks.failed (the export goes on unless it says otherwise); a file gone
// since the listing is no failure and gets its row of zeros. False when
// hooks.failed ended the batch.
bool WriteRows(FileListWriter& out, const batch::Entries& entries, const batch::Hooks& hooks);

}  // namespace listbatch

#pragma once
// The compress and extract batches: checked files into one archive under
// their bare names, a whole folder into one archive under relative names, and
// archives extracted beside themselves or into one folder.

#include "BatchRun.h"
#include "ZipArchive.h"

#include <QString>
#include <functional>
#include <optional>

namespace zipbatch {

// Only the exact, lower-case ".zip" counts: B.ZIP and c.Zip are passed over.
bool IsZipArchive(const QString& path);

// The folder-wide archive: every file below folder, named relative to it,
// collected before the archive is created; FIFOs, sockets, devices, links
// that leave the folder or lead nowhere and subfolders the walk passes over
// go to hooks.leftOut. Throws with the failure's message. A password encrypts
// every member (WinZip AES-256, the password's UTF-8 bytes).
void ZipFolder(const QString& archive, const QString& folder, const ZipProgress& progress,
               const batch::Hooks& hooks = {}, const QString& password = {});

// The failures of the batches below, as batch::Failure::kind.
enum FailureKind {
    AddFailed = 0,      // a file could not be added; the members before it stay
    OpenFailed = 1,     // no readable archive; reason is the facility's message
    ExtractFailed = 2,  // extracting the archive failed part-way; what was written stays
    NoPassword = 3,     // an encrypted archive without a password that opens it: skipped
};

// Asks for the password of an archive that holds an encrypted member; again
// after a wrong one. Nothing: none is given, and the archive is skipped.
using AskPassword = std::function<std::optional<QString>(const QString& archive, bool again)>;

// An archive that no password given opens: skipped whole and named (the
// window, whose user declined to try again), or extracted with the last
// password given, its members that it doesn't open failing one by one while
// the others extract (the command line, which is given one password).
enum class WrongPassword { SkipArchive, ExtractOthers };

// The entries into one archive under their bare names, in order. The archive
// exists (empty) once opened, and is finished with the members added so far
// also when hooks.failed ends the batch. False then. Throws when the archive
// can't be created or finished.
bool ZipEntries(ZipArchive& zip, const QString& archive, const batch::Entries& entries, const batch::Hooks& hooks,
                const batch::Sources& sources = {});

// Extracts each entry's archive into target, or beside the archive when
// target is empty: then the archive's folder is opened first, below the
// sources' folder, and the archive inside it. Later archives replace earlier
// ones' files of the same name. An encrypted archive is tried first with the
// last password that opened one in this batch, then with what ask gives.
// A member whose data fails (wrong password, failed authentication, bad CRC)
// is not written, the archive's other members are, and the archive then
// fails as ExtractFailed naming such members. False when hooks.failed ended the batch.
bool ExtractEntries(ZipArchive& zip, const batch::Entries& entries, const std::optional<QString>& target,
                    const ZipProgress& progress, const batch::Hooks& hooks, const batch::Sources& sources = {},
                    const AskPassword& ask = {}, WrongPassword wrong = WrongPassword::SkipArchive);

}  // namespace zipbatch

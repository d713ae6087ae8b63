#pragma once
// The program's own small state files (the rename journal and the lock that
// lets one batch at a time write it): plain C++ over POSIX calls, no Qt.

#include "SafeFile.h"

#include <optional>
#include <string>

namespace safefile {

// An exclusive lock on a lock file (flock), held while the object lives and
// let go however the process ends, a kill included.
class FileLock {
public:
    // Opens the lock file, making it (mode 0600) when missing, and locks it
    // without waiting: false when another holder has it, in this process or
    // another. Throws Error when the file can't be opened.
    bool TryLock(const std::string& path);

private:
    Fd fd_;
};

// Makes the folder path and its missing parents; those made get mode 0700,
// since what is kept there names the user's files. Throws Error.
void MakePrivateFolder(const std::string& path);

// The file at the name itself (a link there is not followed); nothing when
// there is nothing at the name. Throws Error for any other failure.
std::optional<FileId> IdAt(const std::string& path);
// The same for a name inside an open folder.
std::optional<FileId> IdIn(const Folder& folder, const std::string& name);

struct WholeFile {
    std::string bytes;
    FileId id;
};
// A regular file read whole, opened without following a link at its name.
// Nothing when there is no file; anything else there fails. Throws Error.
std::optional<WholeFile> ReadWhole(const std::string& path);

// Puts bytes at path (mode 0600) and has them and the name on disk before
// returning: a crash leaves the old file or the whole new one. Throws Error.
void WriteDurably(const std::string& path, const std::string& bytes);

// Removes the name while it still is the file id; a newer file put there
// since is left alone. Throws Error.
void RemoveIfStill(const std::string& path, const FileId& id);

}  // namespace safefile

#pragma once
// The one way into the folder a batch was named on. Every file or folder a
// batch reads, renames or extracts beside is opened from a descriptor of that
// folder, never by its full path after the tree was listed: whatever another
// program swaps in meanwhile (a folder turned into a link to elsewhere), no
// step of the path may leave the folder. Plain C++ over POSIX calls, no Qt.

#include "SafeFile.h"

#include <string>
#include <sys/stat.h>

namespace reach {

// For tests: resolves paths as on a kernel without openat2, one part at a
// time without letting the kernel follow any link.
void UseComponentWalk(bool on);

// Opens rel (parts separated by "/") below the folder dir with the open
// flags given. A link inside dir is followed as long as it stays inside; one
// that leaves it (an absolute target, ".." past dir) fails with EXDEV, and the
// links of /proc that lead anywhere are never followed. Throws safefile::Error.
safefile::Fd OpenBeneath(int dir, const std::string& rel, int flags);

// Renames oldName to newName, both in the folder dir, never replacing a file
// at newName. 0, or the errno of the failure.
int RenameNoReplace(int dir, const std::string& oldName, const std::string& newName);
// The link-and-unlink way on its own, for file systems without RENAME_NOREPLACE.
int RenameByLink(int dir, const std::string& oldName, const std::string& newName);

// Why a batch that reads files leaves one out without opening it.
enum class Skip {
    Special,       // a FIFO, socket or device: opening a FIFO waits forever
    OutsideLink,   // a link whose target lies outside the folder
    DanglingLink,  // a link whose target doesn't exist
};

class Refused : public safefile::Error {
public:
    Refused(Skip why, int code) : safefile::Error(code), why_(why) {}
    Skip Why() const { return why_; }

private:
    Skip why_;
};

// The folder a batch was named on, opened once (links in its own path are
// followed: the user named it). A root without a folder stands for files the
// user named one by one, on the command line: each is opened as named, a link
// followed wherever it leads, as command-line tools do.
class Root {
public:
    Root() = default;
    explicit Root(const std::string& folder);
    explicit Root(safefile::Folder folder) : folder_(std::move(folder)) {}

    bool HasFolder() const { return folder_.Valid(); }
    const safefile::Folder& Folder() const { return folder_; }
    // The part of path below the folder ("" for the folder itself); EXDEV
    // when path doesn't begin with the folder's text.
    std::string Below(const std::string& path) const;

    // A regular file for reading, with what fstat says of it in *st. A FIFO,
    // socket or device is never opened; it, and a link that leaves the folder
    // or leads nowhere, throws Refused. Anything else throws safefile::Error.
    safefile::Fd OpenFile(const std::string& path, struct stat* st) const;
    // The folder at path, for renaming in it or extracting beside a file.
    safefile::Folder OpenFolder(const std::string& path) const;

private:
    // rel below the folder, as OpenBeneath, but a link with an absolute
    // target inside the folder counts as the entry it points to.
    safefile::Fd Open(const std::string& rel, int flags) const;
    // Where the folder's descriptor lies now, links resolved; "" if unknown.
    std::string RealPath() const;

    safefile::Folder folder_;
};

}  // namespace reach

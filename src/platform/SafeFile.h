#pragma once
// The one place where finished files are put on disk: encrypted and decrypted
// copies, archives, extracted members, the file list and the operation log.
//
// A new file is written to a temporary file in its target's folder, unnamed
// where the file system allows it (so a crash or a kill leaves nothing
// behind), else under a hidden name with mode 0600 while it is written. It
// takes its name only once complete; when that replaces an existing file, its
// data reaches the disk first. A symbolic link at the name is replaced, never
// written through, and folders below a target are opened without following
// links. Plain C++ over POSIX calls, no Qt, so every unit can use it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace safefile {

// A failure of the file system. what() is the system's own text for the
// cause (ErrnoText), or a short Chinese text where the system has none.
class Error : public std::runtime_error {
public:
    Error(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
    explicit Error(int code);
    int Code() const { return code_; }

private:
    int code_;
};

// An owned file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset();

private:
    int fd_ = -1;
};

// Which file a name stands for.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};

// The process's umask, read without changing it.
mode_t Umask();
// 0666 & ~umask: the mode of a new file that takes none from elsewhere.
mode_t DefaultMode();
// The permission bits of a stored mode, masked by the umask; never
// set-user-ID, set-group-ID or sticky.
mode_t MaskedMode(mode_t stored);

// Writes all bytes at the descriptor's position, or at offset; throws Error.
void WriteAll(int fd, const void* data, std::size_t size);
void WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset);
// Reads size bytes at offset, fewer only at the end of the file; throws Error.
std::size_t ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset);

// The folder part of a path ("." for a bare name, "/" for the root) and the last part.
std::string FolderOf(const std::string& path);
std::string BareName(const std::string& path);

// Opens (and, when create is set, makes) the folder `part` inside the folder
// parent without following a link at that name; returns the descriptor.
// A file in the way fails with ENOTDIR, a link with ELOOP.
int OpenChildFolder(int parent, const std::string& part, bool create);

// An open folder that files are written into. Copies share the descriptor.
class Folder {
public:
    Folder() = default;
    // Opens a folder the user named; links anywhere in its path are followed.
    static Folder Open(const std::string& path);
    // A folder already open; path names it in messages.
    static Folder Adopt(Fd fd, const std::string& path);
    // The folder rel ("a/b", "" for this one) below this one, made where
    // missing when create is set, each part opened without following links.
    Folder Sub(const std::string& rel, bool create) const;

    int Get() const { return fd_ ? fd_->Get() : -1; }
    bool Valid() const { return fd_ && fd_->Valid(); }
    const std::string& Path() const { return path_; }
    // The path of a name inside this folder, for messages.
    std::string PathOf(const std::string& name) const;
    FileId Id() const;

private:
    std::shared_ptr<Fd> fd_;
    std::string path_;
};

// Makes `name` in folder a symbolic link to target, replacing a file or link
// of that name in one step (never following it); a folder of that name stays
// and fails. target is stored as it is, not checked.
void PlaceSymlink(const Folder& folder, const std::string& name, const std::string& target);

// Whether `name` in folder (the name itself, not what a link there points to)
// is the file id.
bool NameHolds(const Folder& folder, const std::string& name, const FileId& id);
FileId IdOf(int fd);

// A source file opened for reading, with its size, mode and identity taken
// from the open file. Only a regular file opens; anything else (a folder, a
// FIFO, a device) fails with EISDIR or ENODEV before any byte is read.
class Source {
public:
    explicit Source(const std::string& path);
    // A regular file already open for reading, with what fstat said of it.
    Source(Fd fd, const struct stat& st);
    int Get() const { return fd_.Get(); }
    std::uint64_t Size() const { return size_; }
    mode_t Mode() const { return mode_; }
    const FileId& Id() const { return id_; }
    // Reads up to size bytes; fewer only at the end of the file.
    std::size_t Read(void* data, std::size_t size);
    std::size_t ReadAt(void* data, std::size_t size, std::uint64_t offset);
    // Takes the size (and mode) anew, for a file written to since it was opened.
    void Restat();
    // Hands the open file over to a reader of its own.
    Fd Take() { return std::move(fd_); }

private:
    Fd fd_;
    std::uint64_t size_ = 0;
    mode_t mode_ = 0;
    FileId id_;
};

// For tests: every new file is written under a hidden name, as on a file
// system without unnamed files.
void UseNamedTemporaries(bool on);

// A file being written. It takes its name by Commit; destroyed uncommitted,
// it leaves nothing behind and the name keeps what it held.
class NewFile {
public:
    // name is one part inside folder.
    NewFile(const Folder& folder, const std::string& name);
    // path's folder is opened as the user's folder (links followed); its last
    // part is the name.
    explicit NewFile(const std::string& path);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int Get() const { return fd_.Get(); }
    const std::string& Path() const { return path_; }
    const Folder& Where() const { return folder_; }
    const std::string& Name() const { return name_; }

    void Write(const void* data, std::size_t size) { WriteAll(fd_.Get(), data, size); }
    void Truncate(std::uint64_t size);
    // The permission bits the file gets (default: DefaultMode()), and its
    // modification time in seconds since 1970 (default: now).
    void SetMode(mode_t mode) { mode_ = mode & 07777; }
    void SetModified(std::int64_t seconds)
    {
        modified_ = seconds;
        hasModified_ = true;
    }

    // Puts the file at its name: a regular file or a link there is replaced
    // (a regular file only after the new data is on disk); a folder or any
    // other kind of file there fails the commit. Throws Error.
    void Commit();
    // Commits, then hands over the open file for a log that is written on
    // line by line after it has taken its name.
    Fd CommitKeepOpen();
    // Drops the file; the name keeps what it held.
    void Discard();

private:
    void Create();
    void Place();
    void LinkUnnamed();
    void SyncBeforeReplacing();
    void ReplaceWith(const std::string& tempName);
    bool ExistingNeedsSync();

    Folder folder_;
    std::string name_;
    std::string path_;
    Fd fd_;
    std::string tempName_;  // empty while the file is unnamed
    mode_t mode_;
    std::int64_t modified_ = 0;
    bool hasModified_ = false;
    bool done_ = false;
};

}  // namespace safefile

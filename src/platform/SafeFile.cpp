#include "SafeFile.h"

#include "ErrnoText.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace safefile {
namespace {

constexpr const char* kNotRegular = "不是普通文件";
constexpr const char* kInTheWay = "同名的文件夹或特殊文件已存在";
constexpr const char* kNoName = "没有文件名";

// /proc/self/status states the umask (Linux 4.7 and later); reading it leaves
// the mask alone, where umask() would change it for other threads meanwhile.
mode_t ReadUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
    }
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

// A hidden name nobody else picks at the same moment.
std::string TemporaryName()
{
    static thread_local std::mt19937_64 random([] {
        std::uint64_t seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        try {
            seed ^= std::uint64_t{std::random_device{}()} << 32;
        } catch (...) {
        }
        return seed ^ reinterpret_cast<std::uintptr_t>(&seed);
    }());
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".vz";
    for (int i = 0; i < 10; ++i)
        name.push_back(kAlphabet[random() % (sizeof kAlphabet - 1)]);
    return name + ".tmp";
}

// Gives the unnamed file open at fd the name `name` in dir; 0 or an errno.
// The /proc form needs no privilege; AT_EMPTY_PATH serves where /proc is missing.
int LinkUnnamedFile(int fd, int dir, const std::string& name)
{
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, proc, dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    int err = errno;
    if (err == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        err = errno;
    }
    return err;
}

void CheckName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw Error(EINVAL, kNoName);
}

}  // namespace

Error::Error(int code) : std::runtime_error(platform::ErrnoText(code)), code_(code) {}

void Fd::Reset()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

mode_t Umask()
{
    static const mode_t mask = ReadUmask();
    return mask;
}

mode_t DefaultMode()
{
    return 0666 & ~Umask();
}

mode_t MaskedMode(mode_t stored)
{
    return stored & 0777 & ~Umask();
}

namespace {

// Writes until all size bytes are out, whatever a signal interrupts;
// writeOnce(done) writes once from done bytes into the data. A write that
// takes nothing means the disk is full.
template <typename WriteOnce>
void WriteFully(std::size_t size, WriteOnce writeOnce)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = writeOnce(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Error(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

void WriteAll(int fd, const void* data, std::size_t size)
{
    WriteFully(size, [&](std::size_t done) { return ::write(fd, static_cast<const char*>(data) + done, size - done); });
}

void WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset)
{
    WriteFully(size, [&](std::size_t done) {
        return ::pwrite(fd, static_cast<const char*>(data) + done, size - done, static_cast<off_t>(offset + done));
    });
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BareName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int OpenChildFolder(int parent, const std::string& part, bool create)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, part.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdirat(parent, part.c_str(), 0777) != 0 && errno != EEXIST)
            throw Error(errno);
        fd = ::openat(parent, part.c_str(), kFlags);
    }
    if (fd < 0) {
        // A link in the way says ENOTDIR or ELOOP depending on the flags; it
        // is told apart from a file in the way.
        const int err = errno;
        struct stat st {};
        if ((err == ENOTDIR || err == ELOOP) && ::fstatat(parent, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            throw Error(S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR);
        throw Error(err);
    }
    return fd;
}

Folder Folder::Open(const std::string& path)
{
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw Error(errno);
    Folder folder;
    folder.fd_ = std::make_shared<Fd>(fd);
    folder.path_ = path;
    return folder;
}

Folder Folder::Adopt(Fd fd, const std::string& path)
{
    Folder folder;
    folder.fd_ = std::make_shared<Fd>(std::move(fd));
    folder.path_ = path;
    return folder;
}

Folder Folder::Sub(const std::string& rel, bool create) const
{
    Folder folder = *this;
    std::size_t start = 0;
    while (start < rel.size()) {
        std::size_t end = rel.find('/', start);
        if (end == std::string::npos)
            end = rel.size();
        const std::string part = rel.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            throw Error(EINVAL);
        const int fd = OpenChildFolder(folder.Get(), part, create);
        folder.fd_ = std::make_shared<Fd>(fd);
        folder.path_ = folder.PathOf(part);
    }
    return folder;
}

std::string Folder::PathOf(const std::string& name) const
{
    if (path_.empty())
        return name;
    return path_.back() == '/' ? path_ + name : path_ + "/" + name;
}

FileId Folder::Id() const
{
    return IdOf(Get());
}

FileId IdOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw Error(errno);
    return {st.st_dev, st.st_ino};
}

bool NameHolds(const Folder& folder, const std::string& name, const FileId& id)
{
    struct stat st {};
    return ::fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == id.dev &&
           st.st_ino == id.ino;
}

Source::Source(const std::string& path)
{
    // Non-blocking, so that a FIFO at the path can't hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw Error(errno);
    fd_ = Fd(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw Error(errno);
    if (S_ISDIR(st.st_mode))
        throw Error(EISDIR);
    if (!S_ISREG(st.st_mode))
        throw Error(ENODEV, kNotRegular);
    size_ = static_cast<std::uint64_t>(st.st_size);
    mode_ = st.st_mode & 07777;
    id_ = {st.st_dev, st.st_ino};
}

Source::Source(Fd fd, const struct stat& st)
    : fd_(std::move(fd)), size_(static_cast<std::uint64_t>(st.st_size)), mode_(st.st_mode & 07777),
      id_{st.st_dev, st.st_ino}
{
}

void Source::Restat()
{
    struct stat st {};
    if (::fstat(fd_.Get(), &st) != 0)
        throw Error(errno);
    size_ = static_cast<std::uint64_t>(st.st_size);
    mode_ = st.st_mode & 07777;
}

namespace {

// Reads until size bytes or the end of the file, whatever a signal interrupts;
// readOnce(done) reads once at done bytes into the buffer.
template <typename ReadOnce>
std::size_t ReadFully(std::size_t size, ReadOnce readOnce)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = readOnce(got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Error(errno);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

}  // namespace

std::size_t Source::Read(void* data, std::size_t size)
{
    return ReadFully(size, [&](std::size_t got) { return ::read(fd_.Get(), static_cast<char*>(data) + got, size - got); });
}

std::size_t ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset)
{
    return ReadFully(size, [&](std::size_t got) {
        return ::pread(fd, static_cast<char*>(data) + got, size - got, static_cast<off_t>(offset + got));
    });
}

std::size_t Source::ReadAt(void* data, std::size_t size, std::uint64_t offset)
{
    return ReadAllAt(fd_.Get(), data, size, offset);
}

NewFile::NewFile(const Folder& folder, const std::string& name)
    : folder_(folder), name_(name), path_(folder.PathOf(name)), mode_(DefaultMode())
{
    CheckName(name);
    Create();
}

NewFile::NewFile(const std::string& path)
    : folder_(Folder::Open(FolderOf(path))), name_(BareName(path)), path_(path), mode_(DefaultMode())
{
    CheckName(name_);
    Create();
}

NewFile::~NewFile()
{
    Discard();
}

namespace {
std::atomic<bool> namedOnly{false};
}

void UseNamedTemporaries(bool on)
{
    namedOnly = on;
}

void NewFile::Create()
{
    // Unnamed: nothing of it outlives the process unless it is committed.
    int fd = namedOnly ? -1 : ::openat(folder_.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        fd_ = Fd(fd);
        return;
    }
    // File systems without unnamed files say so in one of these ways.
    if (!namedOnly && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throw Error(errno);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = TemporaryName();
        fd = ::openat(folder_.Get(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            fd_ = Fd(fd);
            tempName_ = std::move(candidate);
            return;
        }
        if (errno != EEXIST)
            throw Error(errno);
    }
    throw Error(EEXIST);
}

void NewFile::Truncate(std::uint64_t size)
{
    if (::ftruncate(fd_.Get(), static_cast<off_t>(size)) != 0)
        throw Error(errno);
}


// Whether a regular file sits at the name, so that replacing it must wait for
// the new data to reach the disk. A link there is simply replaced; a folder
// or a special file is never replaced.
bool NewFile::ExistingNeedsSync()
{
    struct stat st {};
    if (::fstatat(folder_.Get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
        throw Error(EISDIR, kInTheWay);
    if (S_ISLNK(st.st_mode))
        return false;
    if (!S_ISREG(st.st_mode))
        throw Error(EEXIST, kInTheWay);
    return true;
}

void NewFile::Commit()
{
    Place();
    fd_.Reset();
}

Fd NewFile::CommitKeepOpen()
{
    Place();
    return std::move(fd_);
}

void NewFile::Place()
{
    if (done_ || !fd_.Valid())
        throw Error(EBADF);
    if (::fchmod(fd_.Get(), mode_) != 0)
        throw Error(errno);
    // After the last write, which would set the time again.
    if (hasModified_) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified_), 0}};
        ::futimens(fd_.Get(), times);
    }
    if (tempName_.empty()) {
        LinkUnnamed();
    } else {
        SyncBeforeReplacing();
        ReplaceWith(tempName_);
    }
    tempName_.clear();
    done_ = true;
}

void NewFile::LinkUnnamed()
{
    const int err = LinkUnnamedFile(fd_.Get(), folder_.Get(), name_);
    if (err == 0)
        return;
    if (err != EEXIST)
        throw Error(err);
    // A link can't replace a name, so the file is linked under a hidden name
    // first and renamed over the old one. The data reaches the disk before
    // that hidden name exists, so that a kill leaves it behind only in the
    // moment between the two calls.
    SyncBeforeReplacing();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = TemporaryName();
        const int linkErr = LinkUnnamedFile(fd_.Get(), folder_.Get(), candidate);
        if (linkErr == EEXIST)
            continue;
        if (linkErr != 0)
            throw Error(linkErr);
        tempName_ = std::move(candidate);
        ReplaceWith(tempName_);
        return;
    }
    throw Error(EEXIST);
}

void NewFile::SyncBeforeReplacing()
{
    if (ExistingNeedsSync() && ::fdatasync(fd_.Get()) != 0)
        throw Error(errno);
}

void NewFile::ReplaceWith(const std::string& tempName)
{
    if (::renameat(folder_.Get(), tempName.c_str(), folder_.Get(), name_.c_str()) != 0)
        throw Error(errno);
}

void NewFile::Discard()
{
    if (done_)
        return;
    done_ = true;
    fd_.Reset();
    if (!tempName_.empty())
        ::unlinkat(folder_.Get(), tempName_.c_str(), 0);
    tempName_.clear();
}

void PlaceSymlink(const Folder& folder, const std::string& name, const std::string& target)
{
    // A link can't be made over a name, so it is made under a hidden name
    // first and renamed over the old one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = TemporaryName();
        if (::symlinkat(target.c_str(), folder.Get(), candidate.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            throw Error(errno);
        }
        if (::renameat(folder.Get(), candidate.c_str(), folder.Get(), name.c_str()) != 0) {
            const int err = errno;
            ::unlinkat(folder.Get(), candidate.c_str(), 0);
            throw Error(err);
        }
        return;
    }
    throw Error(EEXIST);
}

}  // namespace safefile

#include "Reach.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace reach {
namespace {

std::atomic<bool> componentWalk{false};
// Set once a kernel without openat2 has said so, so it is asked only once.
std::atomic<bool> noOpenat2{false};

// Symbolic links followed for one path at most, as the kernel allows.
constexpr int kMaxLinks = 40;

std::deque<std::string> PartsOf(const std::string& path)
{
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path, start, end - start);
        start = end + 1;
    }
    return parts;
}

// -1 with errno set when the kernel has no openat2 (or the test asks for the other way).
int Openat2(int dir, const std::string& rel, int flags)
{
    if (componentWalk || noOpenat2) {
        errno = ENOSYS;
        return -1;
    }
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0;; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dir, rel.empty() ? "." : rel.c_str(), &how, sizeof how);
        if (fd >= 0)
            return static_cast<int>(fd);
        // EAGAIN: a rename elsewhere raced the lookup; the kernel asks to try again.
        if (errno == EAGAIN && attempt < 8)
            continue;
        if (errno == ENOSYS)
            noOpenat2 = true;
        return -1;
    }
}

// Where the part below root begins in the absolute path target, or npos when
// target does not lie inside root ("/a/bc" is not inside "/a/b").
std::size_t BelowRealPath(const std::string& root, const std::string& target)
{
    if (root == "/")
        return 1;
    if (target.compare(0, root.size(), root) != 0)
        return std::string::npos;
    if (target.size() > root.size() && target[root.size()] != '/')
        return std::string::npos;
    return root.size();
}

// What openat2 does, done one part at a time with openat(O_NOFOLLOW), so the
// kernel follows no link at all: a link is read here and its text walked the
// same way, and ".." moves back along the folders already open, so nothing
// can lead above dir. An absolute link is followed only when dir is the named
// folder, its real path is given in rootReal and the target lies below it: the
// rest is walked from dir again. -1 with errno set on failure.
int WalkBeneath(int dir, const std::string& rel, int flags, const std::string* rootReal = nullptr)
{
    std::deque<std::string> todo = PartsOf(rel);
    std::vector<safefile::Fd> open;  // the folders below dir walked into
    int links = 0;
    const auto current = [&] { return open.empty() ? dir : open.back().Get(); };
    while (!todo.empty()) {
        const std::string part = std::move(todo.front());
        todo.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            if (open.empty()) {
                errno = EXDEV;
                return -1;
            }
            open.pop_back();
            continue;
        }
        const bool last = todo.empty();
        const int partFlags = last ? flags | O_NOFOLLOW | O_CLOEXEC : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(current(), part.c_str(), partFlags);
        int err = errno;
        // O_PATH with O_NOFOLLOW opens a link itself rather than failing.
        if (fd >= 0 && (partFlags & O_PATH)) {
            struct stat st {};
            if (::fstat(fd, &st) == 0 && S_ISLNK(st.st_mode)) {
                ::close(fd);
                fd = -1;
                err = ELOOP;
            }
        }
        if (fd >= 0) {
            if (last)
                return fd;
            open.emplace_back(fd);
            continue;
        }
        if (err != ELOOP && err != ENOTDIR && err != EMLINK) {
            errno = err;
            return -1;
        }
        char target[PATH_MAX];
        const ssize_t n = ::readlinkat(current(), part.c_str(), target, sizeof target);
        if (n < 0) {
            errno = err;  // not a link: the failure stands
            return -1;
        }
        if (++links > kMaxLinks) {
            errno = ELOOP;
            return -1;
        }
        if (n == 0) {
            errno = ENOENT;
            return -1;
        }
        std::string text(target, static_cast<std::size_t>(n));
        if (text[0] == '/') {
            const std::size_t below = rootReal ? BelowRealPath(*rootReal, text) : std::string::npos;
            if (below == std::string::npos) {
                errno = EXDEV;
                return -1;
            }
            open.clear();  // back to the named folder itself
            text.erase(0, below);
        }
        std::deque<std::string> spliced = PartsOf(text);
        todo.insert(todo.begin(), spliced.begin(), spliced.end());
    }
    // Nothing named below dir (an empty path, or one that came back to it).
    return ::openat(current(), ".", flags | O_CLOEXEC);
}

// The folder part of rel and its last part.
std::string ParentOf(const std::string& rel)
{
    const auto slash = rel.find_last_of('/');
    return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

}  // namespace

void UseComponentWalk(bool on)
{
    componentWalk = on;
}

safefile::Fd OpenBeneath(int dir, const std::string& rel, int flags)
{
    int fd = Openat2(dir, rel, flags);
    if (fd < 0 && errno == ENOSYS)
        fd = WalkBeneath(dir, rel, flags);
    if (fd < 0)
        throw safefile::Error(errno);
    return safefile::Fd(fd);
}

int RenameByLink(int dir, const std::string& oldName, const std::string& newName)
{
    if (::linkat(dir, oldName.c_str(), dir, newName.c_str(), 0) != 0)
        return errno;
    if (::unlinkat(dir, oldName.c_str(), 0) != 0) {
        const int err = errno;
        ::unlinkat(dir, newName.c_str(), 0);  // the file keeps its old name only
        return err;
    }
    return 0;
}

int RenameNoReplace(int dir, const std::string& oldName, const std::string& newName)
{
    if (oldName == newName)
        return 0;
    if (::renameat2(dir, oldName.c_str(), dir, newName.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    // Only a file system (or kernel) that does not know the flag falls back.
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP)
        return RenameByLink(dir, oldName, newName);
    return err;
}

Root::Root(const std::string& folder) : folder_(safefile::Folder::Open(folder)) {}

std::string Root::RealPath() const
{
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", folder_.Get());
    char real[PATH_MAX];
    const ssize_t n = ::readlink(proc, real, sizeof real);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof real && real[0] == '/')
        return std::string(real, static_cast<std::size_t>(n));
    // No /proc: the named path with its links resolved now.
    char* resolved = ::realpath(folder_.Path().c_str(), nullptr);
    if (!resolved)
        return std::string();
    std::string path(resolved);
    std::free(resolved);
    return path;
}

safefile::Fd Root::Open(const std::string& rel, int flags) const
{
    try {
        return OpenBeneath(folder_.Get(), rel, flags);
    } catch (const safefile::Error& e) {
        if (e.Code() != EXDEV)
            throw;
    }
    // openat2 refuses every absolute link, even one that points back inside;
    // walked part by part, such a link leads back to the folder's descriptor
    // and the rest stays below it, whatever is swapped in meanwhile.
    const std::string real = RealPath();
    if (real.empty())
        throw safefile::Error(EXDEV);
    const int fd = WalkBeneath(folder_.Get(), rel, flags, &real);
    if (fd < 0)
        throw safefile::Error(errno);
    return safefile::Fd(fd);
}

std::string Root::Below(const std::string& path) const
{
    const std::string& top = folder_.Path();
    if (path.compare(0, top.size(), top) != 0)
        throw safefile::Error(EXDEV);
    std::size_t at = top.size();
    if (at < path.size() && (top.empty() || top.back() != '/')) {
        if (path[at] != '/')
            throw safefile::Error(EXDEV);  // "/a/bc" is not below "/a/b"
        ++at;
    }
    return path.substr(at);
}

safefile::Fd Root::OpenFile(const std::string& path, struct stat* st) const
{
    // First only where it is: a device or FIFO is never opened for reading.
    safefile::Fd where;
    std::string rel;
    try {
        if (!HasFolder()) {
            const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
            if (fd < 0)
                throw safefile::Error(errno);
            where = safefile::Fd(fd);
        } else {
            rel = Below(path);
            where = Open(rel, O_PATH);
        }
    } catch (const safefile::Error& e) {
        if (HasFolder() && e.Code() == EXDEV)
            throw Refused(Skip::OutsideLink, EXDEV);
        if (HasFolder() && (e.Code() == ENOENT || e.Code() == ELOOP)) {
            struct stat own {};
            try {
                const safefile::Fd parent = Open(ParentOf(rel), O_PATH | O_DIRECTORY);
                if (::fstatat(parent.Get(), safefile::BareName(rel).c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISLNK(own.st_mode))
                    throw Refused(Skip::DanglingLink, e.Code());
            } catch (const Refused&) {
                throw;
            } catch (const safefile::Error&) {
            }
        }
        throw;
    }
    if (::fstat(where.Get(), st) != 0)
        throw safefile::Error(errno);
    if (S_ISDIR(st->st_mode))
        throw safefile::Error(EISDIR);
    if (!S_ISREG(st->st_mode))
        throw Refused(Skip::Special, ENODEV);
    // Reopened for reading through its descriptor: the very file looked at,
    // whatever was swapped in at its path since.
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", where.Get());
    int fd = ::open(proc, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        // No /proc: the path once more, below the folder, and the same file or nothing.
        fd = HasFolder() ? Open(rel, O_RDONLY | O_NONBLOCK | O_NOCTTY).Release()
                         : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    }
    if (fd < 0)
        throw safefile::Error(errno);
    safefile::Fd file(fd);
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        throw safefile::Error(errno);
    if (now.st_dev != st->st_dev || now.st_ino != st->st_ino || !S_ISREG(now.st_mode))
        throw safefile::Error(ENOENT);
    *st = now;
    return file;
}

safefile::Folder Root::OpenFolder(const std::string& path) const
{
    if (!HasFolder())
        return safefile::Folder::Open(path);
    return safefile::Folder::Adopt(Open(Below(path), O_RDONLY | O_DIRECTORY), path);
}

}  // namespace reach

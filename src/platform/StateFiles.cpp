#include "StateFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace safefile {

bool FileLock::TryLock(const std::string& path)
{
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.Valid())
        throw Error(errno);
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return false;
        if (errno != EINTR)
            throw Error(errno);
    }
    fd_ = std::move(fd);
    return true;
}

void MakePrivateFolder(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            throw Error(ENOTDIR);
        return;
    }
    if (errno != ENOENT)
        throw Error(errno);
    const std::string parent = FolderOf(path);
    if (parent != path)
        MakePrivateFolder(parent);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        throw Error(errno);
}

std::optional<FileId> IdAt(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        return FileId{st.st_dev, st.st_ino};
    if (errno == ENOENT)
        return std::nullopt;
    throw Error(errno);
}

std::optional<FileId> IdIn(const Folder& folder, const std::string& name)
{
    struct stat st {};
    if (::fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return FileId{st.st_dev, st.st_ino};
    if (errno == ENOENT)
        return std::nullopt;
    throw Error(errno);
}

std::optional<WholeFile> ReadWhole(const std::string& path)
{
    // Non-blocking, so that a FIFO put at the name can't hold the open.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid()) {
        if (errno == ENOENT)
            return std::nullopt;
        throw Error(errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        throw Error(errno);
    if (!S_ISREG(st.st_mode))
        throw Error(EINVAL);
    WholeFile file{std::string(static_cast<std::size_t>(st.st_size), '\0'), {st.st_dev, st.st_ino}};
    file.bytes.resize(ReadAllAt(fd.Get(), file.bytes.data(), file.bytes.size(), 0));
    return file;
}

void WriteDurably(const std::string& path, const std::string& bytes)
{
    NewFile file(path);
    file.SetMode(0600);
    file.Write(bytes.data(), bytes.size());
    if (::fsync(file.Get()) != 0)
        throw Error(errno);
    file.Commit();
    // The new name lives in the folder: flushed too, or a power cut could
    // keep what came after it and lose it.
    if (::fsync(file.Where().Get()) != 0)
        throw Error(errno);
}

void RemoveIfStill(const std::string& path, const FileId& id)
{
    const std::optional<FileId> now = IdAt(path);
    if (now && *now == id && ::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw Error(errno);
}

}  // namespace safefile

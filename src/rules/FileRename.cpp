#include "FileRename.h"

#include "ErrnoText.h"
#include "folder_services.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString ErrorText(int error)
{
    return QString::fromStdString(platform::ErrnoText(error));
}

// The file-system bytes of both paths; false with the message when a path
// can't be expressed in the file-system encoding.
bool Encode(const QString& oldPath, const QString& newPath, std::string& from, std::string& to, QString& err)
{
    try {
        from = EncodePath(oldPath);
        to = EncodePath(newPath);
        return true;
    } catch (const std::exception& e) {
        err = QString::fromUtf8(e.what());
        return false;
    }
}

std::optional<QString> LinkThenUnlink(const std::string& from, const std::string& to)
{
    if (::link(from.c_str(), to.c_str()) != 0)
        return ErrorText(errno);
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());  // leave the file under its old name only
        return ErrorText(error);
    }
    return std::nullopt;
}

}  // namespace

std::optional<QString> RenameNoReplace(const QString& oldPath, const QString& newPath)
{
    if (oldPath == newPath)
        return std::nullopt;
    std::string from, to;
    QString err;
    if (!Encode(oldPath, newPath, from, to, err))
        return err;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    const int error = errno;
    // Only a file system (or kernel) that does not know the flag falls back.
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP)
        return LinkThenUnlink(from, to);
    return ErrorText(error);
}

std::optional<QString> RenameByLink(const QString& oldPath, const QString& newPath)
{
    if (oldPath == newPath)
        return std::nullopt;
    std::string from, to;
    QString err;
    if (!Encode(oldPath, newPath, from, to, err))
        return err;
    return LinkThenUnlink(from, to);
}

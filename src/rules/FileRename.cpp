#include "FileRename.h"

#include "ErrnoText.h"
#include "Reach.h"
#include "folder_services.h"

#include <cerrno>
#include <exception>

namespace {

QString ErrorText(int error)
{
    return QString::fromStdString(platform::ErrnoText(error));
}

using RenameAt = int (*)(int, const std::string&, const std::string&);

// Renames in folder, or, without one, in the old path's folder opened as named.
std::optional<QString> Rename(RenameAt rename, const safefile::Folder* folder, const QString& oldPath,
                              const QString& newPath)
{
    if (oldPath == newPath)
        return std::nullopt;
    try {
        const std::string from = EncodePath(oldPath);
        const std::string to = EncodePath(newPath);
        const safefile::Folder own = folder ? *folder : safefile::Folder::Open(safefile::FolderOf(from));
        const reach::Root in(own);
        if (const int error = rename(own.Get(), in.Below(from), in.Below(to)))
            return ErrorText(error);
        return std::nullopt;
    } catch (const safefile::Error& e) {
        return ErrorText(e.Code());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());  // a path the file-system encoding can't express
    }
}

}  // namespace

std::optional<QString> RenameNoReplace(const safefile::Folder& folder, const QString& oldPath, const QString& newPath)
{
    return Rename(reach::RenameNoReplace, &folder, oldPath, newPath);
}

std::optional<QString> RenameNoReplace(const QString& oldPath, const QString& newPath)
{
    return Rename(reach::RenameNoReplace, nullptr, oldPath, newPath);
}

std::optional<QString> RenameByLink(const QString& oldPath, const QString& newPath)
{
    return Rename(reach::RenameByLink, nullptr, oldPath, newPath);
}

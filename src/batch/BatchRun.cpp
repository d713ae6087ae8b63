#include "BatchRun.h"

#include <stdexcept>

namespace batch {

QString SkipReason(reach::Skip why)
{
    switch (why) {
    case reach::Skip::OutsideLink: return OutsideLinkReason();
    case reach::Skip::DanglingLink: return DanglingLinkReason();
    case reach::Skip::Special: break;
    }
    return SpecialFileReason();
}

Sources::Sources(const QString& folder)
{
    try {
        root_ = reach::Root(EncodePath(folder));
    } catch (const safefile::Error& e) {
        throw std::runtime_error((QStringLiteral("无法打开文件夹") + folder + QStringLiteral("：")).toStdString() +
                                 e.what());
    }
}

std::optional<safefile::Source> Sources::OpenIn(const safefile::Folder& folder, const QString& file,
                                               const Hooks& hooks) const
{
    if (!root_.HasFolder())
        return Open(file, hooks);  // named on the command line: taken as named
    return OpenWith(reach::Root(folder), file, hooks);
}

std::optional<safefile::Source> Sources::Open(const QString& file, const Hooks& hooks) const
{
    return OpenWith(root_, file, hooks);
}

std::optional<safefile::Source> Sources::OpenWith(const reach::Root& root, const QString& file, const Hooks& hooks)
{
    const std::string path = EncodePath(file);
    try {
        struct stat st {};
        safefile::Fd fd = root.OpenFile(path, &st);
        return safefile::Source(std::move(fd), st);
    } catch (const reach::Refused& r) {
        hooks.LeaveOut(file, SkipReason(r.Why()));
        return std::nullopt;
    }
}

}  // namespace batch

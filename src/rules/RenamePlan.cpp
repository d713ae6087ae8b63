#include "RenamePlan.h"

#include "ErrnoText.h"
#include "StateFiles.h"
#include "folder_services.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

QString ErrorText(int error)
{
    return QString::fromStdString(platform::ErrnoText(error));
}

// The names the replay has freed or taken so far; any other name is as the disk has it.
class NameReplay {
public:
    bool Exists(const std::string& path) const
    {
        if (taken_.count(path))
            return true;
        if (freed_.count(path))
            return false;
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }
    // The file on disk at a name the replay hasn't freed: the one a rename
    // from that name will move.
    std::optional<RenameIdentity> IdentityOf(const std::string& path) const
    {
        if (freed_.count(path))
            return std::nullopt;
        try {
            if (const auto id = safefile::IdAt(path))
                return RenameIdentity{std::uint64_t(id->dev), std::uint64_t(id->ino)};
        } catch (const safefile::Error&) {
            // Unreachable is as good as gone, as for any other name.
        }
        return std::nullopt;
    }
    void Move(const std::string& from, const std::string& to)
    {
        taken_.erase(from);
        freed_.insert(from);
        freed_.erase(to);
        taken_.insert(to);
    }

private:
    std::set<std::string> taken_;
    std::set<std::string> freed_;
};

}  // namespace

RenamePlan PlanRenames(const QStringList& files, const RenameRule& rule)
{
    RenamePlan plan;
    if (rule.changeType != 1 && rule.changeType != 2)
        return plan;
    plan.reserve(static_cast<std::size_t>(files.size()));
    for (int k = 0; k < files.size(); ++k) {
        const QString& path = files[k];
        plan.push_back({path, rule.changeType == 1
                                  ? NumberedPath(path, rule.numbered, k)
                                  : ReplacedPath(path, rule.oldstr, rule.replacestr, rule.replaceType)});
    }
    return plan;
}

QString RenameFailureMessage(const QString& oldPath, const QString& reason)
{
    return QStringLiteral("更改文件：") + oldPath + QStringLiteral("的名称发生错误，错误原因:") + reason;
}

std::optional<PlanFault> CheckRenamePlan(const RenamePlan& plan, std::vector<RenameIdentity>* ids)
{
    if (ids)
        ids->clear();
    NameReplay names;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const RenameStep& step = plan[i];
        if (step.oldPath == step.newPath)
            continue;
        std::string from, to;
        try {
            from = EncodePath(step.oldPath);
            to = EncodePath(step.newPath);
        } catch (const std::exception& e) {
            return PlanFault{i, QString::fromUtf8(e.what())};
        }
        if (ids) {
            const auto id = names.IdentityOf(from);
            if (!id)
                return PlanFault{i, ErrorText(ENOENT)};
            ids->push_back(*id);
        } else if (!names.Exists(from)) {
            return PlanFault{i, ErrorText(ENOENT)};
        }
        if (names.Exists(to))
            return PlanFault{i, ErrorText(EEXIST)};
        if (to.size() - to.rfind('/') - 1 > NAME_MAX)  // a long prefix times a long name
            return PlanFault{i, ErrorText(ENAMETOOLONG)};
        names.Move(from, to);
    }
    return std::nullopt;
}

std::optional<QString> PlanFailure(const RenamePlan& plan, std::vector<RenameIdentity>* ids)
{
    if (const auto fault = CheckRenamePlan(plan, ids))
        return RenameFailureMessage(plan[fault->index].oldPath, fault->reason);
    return std::nullopt;
}

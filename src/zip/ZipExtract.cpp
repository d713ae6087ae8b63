#include "ZipExtract.h"

#include <cerrno>
#include <deque>
#include <optional>
#include <future>
#include <memory>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <sys/stat.h>
#include <unistd.h>

#include "DirWalk.h"
#include "WorkerPool.h"
#include "ZipCrc.h"
#include "ZipFormat.h"
#include "ZipIo.h"
#include "ZipMember.h"

namespace zipextract {
namespace {

using zipio::Fd;

constexpr std::size_t kOutChunk = 1024 * 1024;
// The longest path and name part the walk can use afterwards.
constexpr std::size_t kMaxPath = 4096;
constexpr std::size_t kMaxPart = 255;

[[noreturn]] void Unsafe(const std::string& name, const char* why)
{
    throw ZipError("不安全的成员名" + name + "：" + why);
}

using Dir = safefile::Folder;

// Folders below the target, opened one part at a time without following
// symbolic links, so nothing is ever written outside the target (the target
// itself may be a link). A folder's descriptor stays open while a write that
// uses it is pending.
class FolderTree {
public:
    explicit FolderTree(const Dir& target) : target_(target.Path()), root_(target) {}

    // The folder below the target ("" is the target), made when missing if
    // create is set; an invalid folder when it is missing and create is not.
    // It is reached from the deepest folder already open, one part at a time:
    // no recursion per level, however deep the name.
    Dir Open(const std::string& rel, bool create = true)
    {
        if (rel.empty())
            return root_;
        std::size_t done = rel.size();
        Dir dir = root_;
        for (;;) {
            const auto it = open_.find(rel.substr(0, done));
            if (it != open_.end()) {
                dir = it->second;
                break;
            }
            const auto slash = rel.rfind('/', done - 1);
            if (slash == std::string::npos) {
                done = 0;
                break;
            }
            done = slash;
        }
        while (done < rel.size()) {
            const std::size_t start = done == 0 ? 0 : done + 1;
            const std::size_t end = std::min(rel.find('/', start), rel.size());
            try {
                dir = dir.Sub(rel.substr(start, end - start), create);
            } catch (const safefile::Error& e) {
                if (!create && e.Code() == ENOENT)
                    return {};
                throw ZipError("无法创建文件夹" + dirwalk::Join(target_, rel.substr(0, end)) + "：" +
                               (e.Code() == ELOOP || e.Code() == ENOTDIR
                                    ? std::string("已有同名的文件或符号链接")
                                    : std::string(e.what())));
            }
            done = end;
            if (open_.size() >= 64)
                open_.clear();  // keeps few descriptors open; the parent chain reopens cheaply
            open_.insert_or_assign(rel.substr(0, done), dir);
        }
        return dir;
    }

private:
    std::string target_;
    Dir root_;
    std::map<std::string, Dir> open_;
};

// The data of one member failed; the other members go on.
class MemberFault : public ZipError {
public:
    using ZipError::ZipError;
};

struct Planned {
    const zipread::Entry* entry;
    std::string rel;
    std::string linkTarget;  // for a link member, checked before anything is written
};

// The names planned so far as a tree of parts, so that checking a name costs
// time and memory in proportion to its length, however deep it goes.
class NameTree {
public:
    // Adds a member's path; false when it clashes with one added before (the
    // same file twice, a file and a folder of one name, a file used as a folder).
    // *clash receives the path that clashes.
    bool Add(const std::string& rel, bool folder, std::string* clash)
    {
        std::uint32_t node = 0;
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = std::min(rel.find('/', start), rel.size());
            node = Child(node, std::string_view(rel).substr(start, end - start));
            Node& n = nodes_[node];
            if (end == rel.size()) {
                if (n.file || (!folder && n.folder)) {
                    *clash = rel;
                    return false;
                }
                (folder ? n.folder : n.file) = true;
                return true;
            }
            if (n.file) {
                *clash = rel.substr(0, end);
                return false;
            }
            n.folder = true;
            start = end + 1;
        }
    }

private:
    struct Node {
        bool file = false, folder = false;
    };
    struct Key {
        std::uint32_t parent;
        std::string part;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const
        {
            return std::hash<std::string_view>()(k.part) ^ (std::size_t{k.parent} * 0x9E3779B97F4A7C15ull);
        }
    };

    std::uint32_t Child(std::uint32_t parent, std::string_view part)
    {
        const auto [it, added] = children_.try_emplace(Key{parent, std::string(part)}, 0);
        if (added) {
            it->second = static_cast<std::uint32_t>(nodes_.size());
            nodes_.emplace_back();
        }
        return it->second;
    }

    std::vector<Node> nodes_{Node{}};
    std::unordered_map<Key, std::uint32_t, KeyHash> children_;
};

// Checks the whole archive before anything is written. targetLength is the
// length of the target folder's path ("" for no folder on the disk): a member
// whose path below it would reach 4096 bytes, or with a part over 255 bytes,
// refuses the archive, since no batch could use that path afterwards.
std::vector<Planned> Plan(const zipread::Reader& reader, std::size_t targetLength, bool decrypts)
{
    std::vector<Planned> plan;
    NameTree names;
    for (const zipread::Entry& e : reader.Entries()) {
        const ZipHeader& hd = e.header;
        const std::string rel = SafeRelativePath(hd.Name, e.host);
        if (!e.isFolder) {
            if ((hd.Flags & zipfmt::kFlagStrongEncryption) || ((hd.Flags & zipfmt::kFlagEncrypted) && !decrypts))
                throw ZipError("成员" + hd.Name + "已加密，不支持加密的成员");
            zipmember::CheckMethod(e);
            if (rel.empty())
                Unsafe(hd.Name, "它没有指明文件");
        }
        if (rel.empty())
            continue;
        if (targetLength + 1 + rel.size() >= kMaxPath)
            Unsafe(hd.Name.substr(0, 200) + "…", "它在目标文件夹下的路径有 4096 字节或更长");
        std::string clash;
        if (!names.Add(rel, e.isFolder, &clash))
            throw ZipError("压缩文件中的" + clash + "出现了两次，或既是文件又是文件夹");
        plan.push_back({&e, rel, {}});
    }
    return plan;
}

// A link member becomes a link only when its target, read from the link's
// own folder, stays inside the target folder: relative, never climbing above
// it, and never climbing with ".." out of another link member, which leads
// wherever that link's target leads. Anything else refuses the archive.
void CheckLinkTarget(const Planned& link, const std::unordered_set<std::string>& links)
{
    const std::string& target = link.linkTarget;
    const auto refuse = [&](const char* why) {
        throw ZipError("成员" + link.entry->header.Name + "是符号链接，" + why + "：“" + target.substr(0, 200) + "”");
    };
    if (target.empty() || target.find('\0') != std::string::npos || target.size() >= kMaxPath)
        refuse("其目标无效");
    if (target.front() == '/')
        refuse("其目标是绝对路径");
    std::string at = link.rel.substr(0, link.rel.find_last_of('/') == std::string::npos ? 0 : link.rel.find_last_of('/'));
    std::size_t start = 0;
    while (start <= target.size()) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        const std::string_view part = std::string_view(target).substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part != "..") {
            if (!at.empty())
                at += '/';
            at += part;
            continue;
        }
        if (at.empty())
            refuse("其目标在目标文件夹之外");
        if (links.count(at))
            refuse("其目标经另一个符号链接用“..”向上");
        const auto slash = at.find_last_of('/');
        at.erase(slash == std::string::npos ? 0 : slash);
    }
}

// Reads and checks the target of every link member of the plan.
void PlanLinks(const zipread::Reader& reader, std::vector<Planned>& plan, zipmember::Decoder& decoder)
{
    std::unordered_set<std::string> links;
    for (const Planned& item : plan)
        if (item.entry->isLink)
            links.insert(item.rel);
    for (Planned& item : plan) {
        if (!item.entry->isLink)
            continue;
        if (item.entry->header.UncompressedSize >= kMaxPath)
            throw ZipError("成员" + item.entry->header.Name + "是符号链接，其目标无效");
        item.linkTarget = decoder.Decode(reader.Source(), *item.entry, [](std::uint64_t) {});
        CheckLinkTarget(item, links);
    }
}

// The plan, with every link member's target read and checked.
std::vector<Planned> PlanAll(const zipread::Reader& reader, std::size_t targetLength, const zipfilter::Factory& filters)
{
    std::vector<Planned> plan = Plan(reader, targetLength, bool(filters));
    zipmember::Decoder decoder(filters);
    PlanLinks(reader, plan, decoder);
    return plan;
}

// The mode an extracted file gets: the stored Unix permission bits masked by
// the umask, as Info-ZIP restores them (never set-id or sticky), else the
// mode of any new file.
mode_t ModeOf(const zipread::Entry& e)
{
    return e.unixMode != 0 ? safefile::MaskedMode(e.unixMode) : safefile::DefaultMode();
}

[[noreturn]] void CannotWrite(const std::string& fullPath, const safefile::Error& e)
{
    throw ZipError("无法写入" + fullPath + "：" + e.what());
}

// Writes one finished file through the shared layer: the name never shows a
// partial file, an earlier file of that name stays until the new one is
// complete, and a symbolic link of that name is replaced, never followed.
void PlaceFile(const safefile::Folder& dir, const std::string& name, const std::string& fullPath,
               const std::string& data, std::int64_t modified, mode_t mode)
{
    try {
        safefile::NewFile out(dir, name);
        out.Write(data.data(), data.size());
        out.SetMode(mode);
        out.SetModified(modified);
        out.Commit();
    } catch (const safefile::Error& e) {
        CannotWrite(fullPath, e);
    }
}

// Extracts members while worker threads write the files: the calling thread
// reads and inflates (checking size and CRC-32 before anything is handed on)
// and reports progress in order; a small member is handed over whole, a large
// one in pieces written behind the inflating.
class MemberWriter {
public:
    MemberWriter(const zipio::Source& archive, const Dir& target, const Progress& progress,
                 const zipfilter::Factory& filters)
        : archive_(archive), target_(target.Path()), progress_(progress), tree_(target), decoder_(filters),
          pool_(zippool::Pool::Instance()), maxPending_(2 * pool_.Size() + 2)
    {
    }
    ~MemberWriter() { Drain(0, false); }

    void Folder(const std::string& rel) { tree_.Open(rel); }
    // Links are made after every file is written, each replacing what has
    // its name, never followed.
    void Link(const std::string& rel, const std::string& target)
    {
        const auto slash = rel.find_last_of('/');
        const Dir dir = tree_.Open(slash == std::string::npos ? std::string() : rel.substr(0, slash));
        try {
            safefile::PlaceSymlink(dir, slash == std::string::npos ? rel : rel.substr(slash + 1), target);
        } catch (const safefile::Error& e) {
            CannotWrite(dirwalk::Join(target_, rel), e);
        }
    }
    // A folder below the target if it exists; nothing is made.
    Dir ExistingFolder(const std::string& rel) { return tree_.Open(rel, false); }

    void File(const zipread::Entry& e, const std::string& rel)
    {
        const auto slash = rel.find_last_of('/');
        const Dir dir = tree_.Open(slash == std::string::npos ? std::string() : rel.substr(0, slash));
        const std::string name = slash == std::string::npos ? rel : rel.substr(slash + 1);
        const std::string fullPath = dirwalk::Join(target_, rel);
        if (progress_)
            progress_(fullPath, e.header, 0);
        try {
            if (e.header.UncompressedSize <= kSmallMember)
                Small(e, dir, name, fullPath);
            else
                Large(e, dir, name, fullPath);
        } catch (const MemberFault& fault) {
            faults_.push_back(fault.what());
        }
    }

    // The members whose data failed (a wrong password, a failed
    // authentication, a bad CRC, corrupt data): none of them was written.
    const std::vector<std::string>& Faults() const { return faults_; }

    // Waits for every write; the first failure is thrown.
    void Finish()
    {
        SendBatch();
        Drain(0, true);
    }

    // After a member failed: the members before it still reach the disk,
    // and the first failure stays the one reported.
    void FinishBeforeFailure() noexcept
    {
        try {
            SendBatch();
        } catch (...) {
        }
        Drain(0, false);
    }

private:
    static constexpr std::uint64_t kSmallMember = 4 << 20;
    struct SmallFile {
        Dir dir;
        std::string name, fullPath, data;
        std::int64_t modified;
        mode_t mode;
    };

    auto Reporter(const zipread::Entry& e, const std::string& fullPath)
    {
        return [this, &e, &fullPath, reported = std::uint64_t{0}](std::uint64_t done) mutable {
            if (progress_ && (done - reported >= kOutChunk || done == e.header.UncompressedSize)) {
                reported = done;
                progress_(fullPath, e.header, static_cast<std::int64_t>(done));
            }
        };
    }

    // Small files go to the workers in batches, so a tree of many small
    // files costs few hand-overs.
    void Small(const zipread::Entry& e, const Dir& dir, const std::string& name, const std::string& fullPath)
    {
        std::string data;
        try {
            data = decoder_.Decode(archive_, e, Reporter(e, fullPath));
        } catch (const ZipError& err) {
            throw MemberFault(err.what());
        }
        SmallFile file{dir, name, fullPath, std::move(data), e.modified, ModeOf(e)};
        batchBytes_ += file.data.size();
        batch_.push_back(std::move(file));
        if (batch_.size() >= 32 || batchBytes_ >= kOutChunk)
            SendBatch();
    }

    void SendBatch()
    {
        if (batch_.empty())
            return;
        Drain(maxPending_ - 1, true);
        auto files = std::make_shared<std::vector<SmallFile>>(std::move(batch_));
        batch_.clear();
        batchBytes_ = 0;
        pending_.push_back(pool_.Submit([files] {
            for (const SmallFile& f : *files)
                PlaceFile(f.dir, f.name, f.fullPath, f.data, f.modified, f.mode);
        }));
    }

    void Large(const zipread::Entry& e, const Dir& dir, const std::string& name, const std::string& fullPath)
    {
        std::optional<safefile::NewFile> out;
        try {
            out.emplace(dir, name);
        } catch (const safefile::Error& err) {
            CannotWrite(fullPath, err);
        }
        std::deque<std::future<void>> writes;
        try {
            auto piece = std::make_shared<std::string>();
            std::uint64_t offset = 0;
            const auto send = [&] {
                if (writes.size() >= maxPending_) {
                    std::future<void> oldest = std::move(writes.front());
                    writes.pop_front();
                    oldest.get();
                }
                const int fd = out->Get();
                writes.push_back(pool_.Submit([fd, piece, offset, fullPath] {
                    zipio::WriteAllAt(fd, piece->data(), piece->size(), offset, fullPath);
                }));
                offset += piece->size();
                piece = std::make_shared<std::string>();
            };
            // A failure of the writes is the disk's, not the member's data.
            bool writeFailed = false;
            try {
                decoder_.Run(
                    archive_, e,
                    [&](const char* p, std::size_t n) {
                        piece->append(p, n);
                        if (piece->size() >= kOutChunk) {
                            writeFailed = true;
                            send();
                            writeFailed = false;
                        }
                    },
                    Reporter(e, fullPath));
            } catch (const ZipError& err) {
                if (writeFailed)
                    throw;
                throw MemberFault(err.what());
            }
            if (!piece->empty())
                send();
            while (!writes.empty()) {
                std::future<void> next = std::move(writes.front());
                writes.pop_front();
                next.get();
            }
            out->SetMode(ModeOf(e));
            out->SetModified(e.modified);
            out->Commit();
        } catch (const safefile::Error& err) {
            WaitAll(writes);
            CannotWrite(fullPath, err);
        } catch (...) {
            // No write may still use the file when it is dropped (a member
            // that fails leaves no temporary file behind).
            WaitAll(writes);
            throw;
        }
    }

    static void WaitAll(std::deque<std::future<void>>& writes) noexcept
    {
        for (auto& w : writes)
            if (w.valid())
                w.wait();
    }

    void Drain(std::size_t keep, bool rethrow)
    {
        while (pending_.size() > keep) {
            std::future<void> f = std::move(pending_.front());
            pending_.pop_front();
            if (rethrow)
                f.get();
            else
                f.wait();
        }
    }

    const zipio::Source& archive_;
    std::string target_;
    const Progress& progress_;
    FolderTree tree_;
    zipmember::Decoder decoder_;
    zippool::Pool& pool_;
    const std::size_t maxPending_;
    std::deque<std::future<void>> pending_;
    std::vector<SmallFile> batch_;
    std::size_t batchBytes_ = 0;
    std::vector<std::string> faults_;
};

// A member whose target is the archive being extracted would replace the
// archive while it is read: such an archive fails before anything is written.
void CheckNotSelf(const zipread::Reader& reader, const std::vector<Planned>& plan, MemberWriter& writer)
{
    struct stat self {};
    if (reader.Path().empty() || ::lstat(reader.Path().c_str(), &self) != 0)
        return;
    const std::string archiveName = zipio::BareName(reader.Path());
    const safefile::FileId id{self.st_dev, self.st_ino};
    for (const Planned& item : plan) {
        if (item.entry->isFolder || zipio::BareName(item.rel) != archiveName)
            continue;
        const auto slash = item.rel.find_last_of('/');
        const Dir dir = writer.ExistingFolder(slash == std::string::npos ? std::string() : item.rel.substr(0, slash));
        if (dir.Valid() && safefile::NameHolds(dir, archiveName, id))
            throw ZipError("成员" + item.entry->header.Name + "会在解压时替换压缩文件" + reader.Path() + "本身");
    }
}

}  // namespace

std::string SafeRelativePath(const std::string& memberName, std::uint8_t host)
{
    const bool dos = zipfmt::UsesDosNames(host);
    const char* separators = dos ? "/\\" : "/";
    if (memberName.find('\0') != std::string::npos)
        Unsafe(memberName, "其中有 NUL 字符");
    if (memberName.front() == '/' || (dos && memberName.front() == '\\'))
        Unsafe(memberName, "它是绝对路径");
    if (dos && memberName.size() >= 2 && memberName[1] == ':' && std::isalpha(static_cast<unsigned char>(memberName[0])))
        Unsafe(memberName, "它以驱动器号开头");
    std::string rel;
    std::size_t start = 0;
    while (start <= memberName.size()) {
        std::size_t end = memberName.find_first_of(separators, start);
        if (end == std::string::npos)
            end = memberName.size();
        const std::string_view part = std::string_view(memberName).substr(start, end - start);
        if (part == "..")
            Unsafe(memberName, "它通过“..”跳出了目标文件夹");
        if (part.size() > kMaxPart)
            Unsafe(memberName.substr(0, 200) + "…", "它的路径中有一段长于 255 字节");
        if (!part.empty() && part != ".") {
            if (!rel.empty())
                rel.push_back('/');
            rel += part;
        }
        start = end + 1;
    }
    return rel;
}

namespace {

void ExtractPlanned(const zipread::Reader& reader, const std::vector<Planned>& plan, const Dir& target,
                    const Progress& progress, const zipfilter::Factory& filters)
{
    MemberWriter writer(reader.Source(), target, progress, filters);
    CheckNotSelf(reader, plan, writer);
    try {
        for (const Planned& item : plan) {
            if (item.entry->isFolder)
                writer.Folder(item.rel);
            else if (!item.entry->isLink)
                writer.File(*item.entry, item.rel);
        }
    } catch (...) {
        writer.FinishBeforeFailure();
        throw;
    }
    writer.Finish();
    for (const Planned& item : plan)
        if (item.entry->isLink)
            writer.Link(item.rel, item.linkTarget);
    if (!writer.Faults().empty()) {
        std::string all;
        for (const std::string& fault : writer.Faults())
            all += (all.empty() ? "" : "；") + fault;
        throw ZipError(all);
    }
}

}  // namespace

void ExtractAll(const zipread::Reader& reader, const std::string& targetFolder, const Progress& progress,
                const zipfilter::Factory& filters)
{
    // Checked before the target folder is made, so a refused archive leaves no trace.
    const std::vector<Planned> plan = PlanAll(reader, targetFolder.size(), filters);
    std::error_code ec;
    std::filesystem::create_directories(targetFolder, ec);
    Dir target;
    try {
        target = safefile::Folder::Open(targetFolder);
    } catch (const safefile::Error& e) {
        throw ZipError("无法打开文件夹" + targetFolder + "：" + e.what());
    }
    ExtractPlanned(reader, plan, target, progress, filters);
}

void ExtractAll(const zipread::Reader& reader, const safefile::Folder& targetFolder, const Progress& progress,
                const zipfilter::Factory& filters)
{
    ExtractPlanned(reader, PlanAll(reader, targetFolder.Path().size(), filters), targetFolder, progress, filters);
}

void TestAll(const zipread::Reader& reader, const zipfilter::Factory& filters)
{
    zipmember::Decoder decoder(filters);
    for (const Planned& item : PlanAll(reader, 0, filters)) {
        if (!item.entry->isFolder && !item.entry->isLink)
            decoder.Check(reader.Source(), *item.entry);
    }
}

void ExtractToMemory(const zipread::Reader& reader, std::uint64_t cap, const ZipMemberSink& onMember,
                     const zipfilter::Factory& filters)
{
    zipmember::Decoder decoder(filters);
    std::uint64_t total = 0;
    for (const Planned& item : PlanAll(reader, 0, filters)) {
        if (item.entry->isFolder || item.entry->isLink)
            continue;
        const ZipHeader& hd = item.entry->header;
        // The decoder never yields more than the declared size, so checking
        // the declared sizes keeps the whole extraction under the cap.
        if (hd.UncompressedSize > cap - total)
            throw ZipError("压缩文件的数据超过 " + std::to_string(cap) + " 字节");
        total += hd.UncompressedSize;
        onMember(hd, item.rel, decoder.Decode(reader.Source(), *item.entry, [](std::uint64_t) {}));
    }
}

}  // namespace zipextract

#include "ZipExtract.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "DirWalk.h"
#include "ZipFormat.h"
#include "ZipIo.h"

namespace zipextract {
namespace {

using zipio::Fd;

constexpr std::size_t kInChunk = 256 * 1024;
constexpr std::size_t kOutChunk = 1024 * 1024;

[[noreturn]] void Unsafe(const std::string& name, const char* why)
{
    throw ZipError("Unsafe member name " + name + ": " + why);
}

// Inflates or copies one member's data into sink, checking that it yields
// exactly the declared size and CRC-32. Never hands sink more bytes than declared.
class MemberDecoder {
public:
    MemberDecoder() : in_(kInChunk), out_(kOutChunk) {}

    template <typename Sink, typename Report>
    void Run(int fd, const zipread::Entry& e, Sink&& sink, Report&& report)
    {
        const ZipHeader& hd = e.header;
        std::uint64_t readPos = e.dataOffset;
        std::uint64_t left = hd.CompressedSize;
        std::uint64_t produced = 0;
        uLong crc = crc32(0L, Z_NULL, 0);
        auto emit = [&](const unsigned char* data, std::size_t len) {
            if (len > hd.UncompressedSize - produced)
                throw ZipError("The member " + hd.Name + " is damaged: it holds more data than its declared size");
            crc = crc32_z(crc, data, len);
            sink(reinterpret_cast<const char*>(data), len);
            produced += len;
            report(produced);
        };
        auto fill = [&]() {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, in_.size()));
            zipio::ReadExact(fd, readPos, in_.data(), n, "member data");
            readPos += n;
            left -= n;
            return n;
        };
        if (hd.Method == static_cast<std::uint16_t>(ZipMethod::Stored)) {
            while (left > 0) {
                const std::size_t n = fill();
                emit(in_.data(), n);
            }
        } else {
            Inflate(hd, fill, emit, left);
        }
        if (produced != hd.UncompressedSize)
            throw ZipError("The member " + hd.Name + " is damaged: it holds less data than its declared size");
        if (static_cast<std::uint32_t>(crc) != hd.Crc32)
            throw ZipError("The member " + hd.Name + " is damaged: CRC-32 checksum mismatch");
    }

private:
    template <typename Fill, typename Emit>
    void Inflate(const ZipHeader& hd, Fill& fill, Emit& emit, std::uint64_t& left)
    {
        z_stream zs{};
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
            throw ZipError("Out of memory while inflating " + hd.Name);
        struct Guard {
            z_stream* s;
            ~Guard() { inflateEnd(s); }
        } guard{&zs};
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (zs.avail_in == 0) {
                if (left == 0)
                    throw ZipError("The member " + hd.Name + " is damaged: its compressed data ends early");
                zs.avail_in = static_cast<uInt>(fill());
                zs.next_in = in_.data();
            }
            zs.next_out = out_.data();
            zs.avail_out = static_cast<uInt>(out_.size());
            rc = inflate(&zs, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                throw ZipError("The member " + hd.Name + " is damaged: " + (zs.msg ? zs.msg : "bad compressed data"));
            emit(out_.data(), out_.size() - zs.avail_out);
        }
        if (zs.avail_in != 0 || left != 0)
            throw ZipError("The member " + hd.Name + " is damaged: data follows the end of its compressed stream");
    }

    std::vector<unsigned char> in_;
    std::vector<unsigned char> out_;
};

// Folders below the target, opened one part at a time without following
// symbolic links, so nothing is ever written outside the target.
class FolderTree {
public:
    FolderTree(const std::string& target) : target_(target)
    {
        std::error_code ec;
        std::filesystem::create_directories(target, ec);
        const int fd = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throw ZipError("Can't open the folder " + target + ": " + zipio::ErrnoText(errno));
        root_ = Fd(fd);
    }

    // The descriptor of a folder below the target ("" is the target), made when missing.
    int Open(const std::string& rel)
    {
        if (rel.empty())
            return root_.Get();
        auto it = open_.find(rel);
        if (it != open_.end())
            return it->second.Get();
        const auto slash = rel.find_last_of('/');
        const int parent = Open(slash == std::string::npos ? std::string() : rel.substr(0, slash));
        const std::string part = slash == std::string::npos ? rel : rel.substr(slash + 1);
        int fd = ::openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(parent, part.c_str(), 0777) != 0 && errno != EEXIST)
                throw ZipError("Can't create the folder " + dirwalk::Join(target_, rel) + ": " +
                               zipio::ErrnoText(errno));
            fd = ::openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            const int err = errno;
            throw ZipError("Can't create the folder " + dirwalk::Join(target_, rel) + ": " +
                           (err == ELOOP || err == ENOTDIR ? std::string("a file or symbolic link of that name is in the way")
                                                           : zipio::ErrnoText(err)));
        }
        if (open_.size() >= 64)
            open_.clear();  // keeps few descriptors open; the parent chain reopens cheaply
        return open_.emplace(rel, Fd(fd)).first->second.Get();
    }

private:
    std::string target_;
    Fd root_;
    std::map<std::string, Fd> open_;
};

struct Planned {
    const zipread::Entry* entry;
    std::string rel;
};

// Checks the whole archive before anything is written.
std::vector<Planned> Plan(const zipread::Reader& reader)
{
    std::vector<Planned> plan;
    std::set<std::string> files, folders;
    const auto conflict = [](const std::string& name) {
        throw ZipError("The archive holds " + name + " twice, or both as a file and as a folder");
    };
    for (const zipread::Entry& e : reader.Entries()) {
        const ZipHeader& hd = e.header;
        const std::string rel = SafeRelativePath(hd.Name);
        if (!e.isFolder) {
            if (hd.Flags & (zipfmt::kFlagEncrypted | zipfmt::kFlagStrongEncryption))
                throw ZipError("The member " + hd.Name + " is encrypted; encrypted members are not supported");
            if (hd.Method != static_cast<std::uint16_t>(ZipMethod::Stored) &&
                hd.Method != static_cast<std::uint16_t>(ZipMethod::Deflate))
                throw ZipError("The member " + hd.Name + " uses compression method " + std::to_string(hd.Method) +
                               ", which is not supported (only stored and deflate are)");
            if (rel.empty())
                Unsafe(hd.Name, "it names no file");
        }
        if (rel.empty())
            continue;
        if (files.count(rel) || (!e.isFolder && folders.count(rel)))
            conflict(hd.Name);
        for (auto slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1)) {
            const std::string parent = rel.substr(0, slash);
            if (files.count(parent))
                conflict(parent);
            folders.insert(parent);
        }
        (e.isFolder ? folders : files).insert(rel);
        plan.push_back({&e, rel});
    }
    return plan;
}

void WriteMember(int archiveFd, const zipread::Entry& e, FolderTree& tree, const std::string& rel,
                 const std::string& fullPath, MemberDecoder& decoder, const Progress& progress)
{
    const auto slash = rel.find_last_of('/');
    const int dir = tree.Open(slash == std::string::npos ? std::string() : rel.substr(0, slash));
    const std::string name = slash == std::string::npos ? rel : rel.substr(slash + 1);
    std::string tempName;
    Fd out = zipio::CreateTemp(dir, &tempName, zipio::FolderOf(fullPath));
    try {
        if (progress)
            progress(fullPath, e.header, 0);
        std::uint64_t reported = 0;
        decoder.Run(
            archiveFd, e, [&](const char* data, std::size_t len) { zipio::WriteAll(out.Get(), data, len, fullPath); },
            [&](std::uint64_t done) {
                if (progress && (done - reported >= kOutChunk || done == e.header.UncompressedSize)) {
                    reported = done;
                    progress(fullPath, e.header, static_cast<std::int64_t>(done));
                }
            });
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(e.modified), 0}};
        ::futimens(out.Get(), times);
        if (::close(out.Release()) != 0)
            throw ZipError("Can't write " + fullPath + ": " + zipio::ErrnoText(errno));
        // rename replaces a file or a symbolic link of that name, never writes through it.
        if (::renameat(dir, tempName.c_str(), dir, name.c_str()) != 0)
            throw ZipError("Can't write " + fullPath + ": " + zipio::ErrnoText(errno));
    } catch (...) {
        ::unlinkat(dir, tempName.c_str(), 0);
        throw;
    }
}

}  // namespace

std::string SafeRelativePath(const std::string& memberName)
{
    if (memberName.find('\0') != std::string::npos)
        Unsafe(memberName, "it holds a NUL character");
    if (memberName.front() == '/' || memberName.front() == '\\')
        Unsafe(memberName, "it is an absolute path");
    if (memberName.size() >= 2 && memberName[1] == ':' && std::isalpha(static_cast<unsigned char>(memberName[0])))
        Unsafe(memberName, "it starts with a drive letter");
    std::string rel;
    std::size_t start = 0;
    while (start <= memberName.size()) {
        std::size_t end = memberName.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = memberName.size();
        const std::string part = memberName.substr(start, end - start);
        if (part == "..")
            Unsafe(memberName, "it climbs out of the target folder through \"..\"");
        if (!part.empty() && part != ".") {
            if (!rel.empty())
                rel.push_back('/');
            rel += part;
        }
        start = end + 1;
    }
    return rel;
}

void ExtractAll(const zipread::Reader& reader, const std::string& targetFolder, const Progress& progress)
{
    const std::vector<Planned> plan = Plan(reader);
    FolderTree tree(targetFolder);
    MemberDecoder decoder;
    for (const Planned& item : plan) {
        if (item.entry->isFolder) {
            tree.Open(item.rel);
            continue;
        }
        WriteMember(reader.Fd(), *item.entry, tree, item.rel, dirwalk::Join(targetFolder, item.rel), decoder,
                    progress);
    }
}

void TestAll(const zipread::Reader& reader)
{
    MemberDecoder decoder;
    for (const Planned& item : Plan(reader)) {
        if (!item.entry->isFolder)
            decoder.Run(reader.Fd(), *item.entry, [](const char*, std::size_t) {}, [](std::uint64_t) {});
    }
}

}  // namespace zipextract

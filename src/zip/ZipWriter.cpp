#include "ZipWriter.h"

#include <utility>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

#include "CodePage.h"
#include "ZipCrypto.h"
#include "ZipFormat.h"

namespace zipwrite {
namespace {

using namespace zipfmt;

constexpr std::size_t kBufferLimit = 1 << 20;
// A member this large may not fit 32-bit sizes once deflated; it gets Zip64
// fields in its local header from the start.
constexpr std::uint64_t kZip64Threshold = 0xF0000000ull;
// AES encryption needs readers of version 5.1.
constexpr std::uint16_t kVersionAes = 51;
constexpr int kAesStrength = 3;  // AES-256
constexpr std::uint16_t kAesVendorVersion = 2;  // AE-2: no CRC, the code authenticates the data

std::uint16_t NeededVersion(bool aes, bool zip64)
{
    if (aes)
        return kVersionAes;
    return zip64 ? kVersionZip64 : kVersionDefault;
}

std::uint32_t Saturate32(std::uint64_t v, bool force)
{
    return force || v >= kMax32 ? kMax32 : static_cast<std::uint32_t>(v);
}

bool FitsTimeField(std::int64_t t)
{
    return t >= 0 && t <= 0x7FFFFFFF;
}

void CheckRegular(const std::string& path, const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        throw ZipError("无法添加" + path + "：它是文件夹，不是文件");
    if (!S_ISREG(st.st_mode))
        throw ZipError("无法添加" + path + "：它不是普通文件");
}

}  // namespace

namespace {

// The file opened below the root's folder, or nothing when it is turned down.
std::optional<Source> OpenBelow(const std::string& path, const Admit& admit, const reach::Root& from,
                                const Skipped& skipped)
{
    Source s;
    s.path = path;
    struct stat st{};
    try {
        s.fd = from.OpenFile(path, &st);
    } catch (const reach::Refused& r) {
        if (!skipped)
            throw;
        skipped(path, r.Why());
        return std::nullopt;
    } catch (const safefile::Error& e) {
        throw ZipError("无法打开" + path + "：" + platform::ErrnoText(e.Code()));
    }
    if (admit && !admit(path, st))
        return std::nullopt;
    if (::flock(s.fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        throw ZipError("无法添加" + path + "：另一个程序锁定了它");
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.modified = static_cast<std::int64_t>(st.st_mtime);
    s.mode = st.st_mode & 07777;
    return s;
}

}  // namespace

Source OpenSource(const std::string& path, const Admit& admit, const reach::Root& from, const Skipped& skipped)
{
    if (from.HasFolder()) {
        std::optional<Source> below = OpenBelow(path, admit, from, skipped);
        if (!below) {
            Source none;
            none.path = path;
            return none;
        }
        return std::move(*below);
    }
    Source s;
    s.path = path;
    // A FIFO, socket or device is never opened: opening a FIFO waits for a
    // writer forever, and opening a device may act on it. Non-blocking open
    // and the second look cover a file swapped for one in between.
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        if (admit && !admit(path, st))
            return s;
        CheckRegular(path, st);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw ZipError("无法打开" + path + "：" + platform::ErrnoText(errno));
    s.fd = zipio::Fd(fd);
    if (::fstat(fd, &st) != 0)
        throw ZipError("无法读取" + path + "：" + platform::ErrnoText(errno));
    CheckRegular(path, st);
    // Shuts out writers that take the customary lock while we read.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        throw ZipError("无法添加" + path + "：另一个程序锁定了它");
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.modified = static_cast<std::int64_t>(st.st_mtime);
    s.mode = st.st_mode & 07777;
    return s;
}

Writer::~Writer()
{
    Abort();
}

void Writer::Open(const std::string& archivePath)
{
    Abort();
    archivePath_ = archivePath;
    const std::string folder = zipio::FolderOf(archivePath);
    struct stat st{};
    if (archivePath.empty() || archivePath.back() == '/')
        throw ZipError("无法创建压缩文件" + archivePath + "：没有给出文件名");
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ZipError("无法创建压缩文件" + archivePath + "：文件夹" + folder + "不存在");
    if (::lstat(archivePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw ZipError("无法创建压缩文件" + archivePath + "：已有同名的文件夹");
    try {
        file_ = std::make_unique<safefile::NewFile>(archivePath);
    } catch (const safefile::Error& e) {
        throw ZipError("无法在文件夹" + folder + "中创建压缩文件：" + e.what());
    }
    buffer_.clear();
    buffer_.reserve(kBufferLimit + (1 << 16));
    bufferStart_ = 0;
    members_.clear();
    names_.clear();
    inMember_ = false;
    broken_ = false;
}

void Writer::Write(const void* data, std::size_t len)
{
    buffer_.append(static_cast<const char*>(data), len);
    if (buffer_.size() >= kBufferLimit)
        Flush();
}

void Writer::Flush()
{
    if (buffer_.empty())
        return;
    // Part of a failed write may be on disk; nothing written after it could
    // make a sound archive.
    broken_ = true;
    zipio::WriteAllAt(file_->Get(), buffer_.data(), buffer_.size(), bufferStart_, archivePath_);
    broken_ = false;
    bufferStart_ += buffer_.size();
    buffer_.clear();
}

void Writer::PatchAt(std::uint64_t offset, const std::string& bytes)
{
    if (offset >= bufferStart_)
        buffer_.replace(static_cast<std::size_t>(offset - bufferStart_), bytes.size(), bytes);
    else {
        broken_ = true;
        zipio::WriteAllAt(file_->Get(), bytes.data(), bytes.size(), offset, archivePath_);
        broken_ = false;
    }
}

ZipHeader Writer::Begin(const Source& source, const std::string& memberName, ZipMethod method)
{
    if (!IsOpen())
        throw ZipError("压缩文件没有以写入方式打开");
    if (memberName.empty() || memberName.size() > kMax16 || memberName.find('\0') != std::string::npos)
        throw ZipError("无法添加" + source.path + "：成员名不可用");
    if (names_.count(memberName))
        throw ZipError("无法添加" + source.path + "：压缩文件中已有同名的成员" + memberName);
    Member m;
    m.name = memberName;
    // A name is flagged UTF-8 only when it is: a Linux name that isn't goes
    // in as its bytes, unflagged, so that every reader can still open the archive.
    m.flags = codepage::IsValidUtf8(memberName) ? kFlagUtf8 : 0;
    m.method = static_cast<std::uint16_t>(method);
    m.modified = source.modified;
    m.mode = source.mode;
    m.offset = Offset();
    m.zip64Local = forceZip64_ || source.size >= kZip64Threshold;
    ToDosTime(source.modified, m.dosTime, m.dosDate);
    if (!password_.empty()) {
        m.flags |= kFlagEncrypted;
        m.method = zipcrypto::kMethodAes;
        Put16(m.aesExtra, zipcrypto::kExtraAes);
        Put16(m.aesExtra, 7);
        m.aesExtra += zipcrypto::AesExtraBody(kAesVendorVersion, kAesStrength, static_cast<std::uint16_t>(method));
    }

    std::string extra;
    if (m.zip64Local) {
        Put16(extra, kExtraZip64);
        Put16(extra, 16);
        Put64(extra, 0);
        Put64(extra, 0);
    }
    if (FitsTimeField(m.modified)) {
        Put16(extra, kExtraTime);
        Put16(extra, 5);
        extra.push_back(1);
        Put32(extra, static_cast<std::uint32_t>(m.modified));
    }
    extra += m.aesExtra;
    std::string h;
    Put32(h, kLocalSig);
    Put16(h, NeededVersion(!m.aesExtra.empty(), m.zip64Local));
    Put16(h, m.flags);
    Put16(h, m.method);
    Put16(h, m.dosTime);
    Put16(h, m.dosDate);
    Put32(h, 0);
    Put32(h, m.zip64Local ? kMax32 : 0);
    Put32(h, m.zip64Local ? kMax32 : 0);
    Put16(h, static_cast<std::uint16_t>(memberName.size()));
    Put16(h, static_cast<std::uint16_t>(extra.size()));
    h += memberName;
    h += extra;
    inMember_ = true;
    members_.push_back(std::move(m));
    names_.insert(memberName);
    Write(h.data(), h.size());

    ZipHeader header;
    header.Name = memberName;
    header.UncompressedSize = source.size;
    header.Method = members_.back().method;
    header.Flags = members_.back().flags;
    header.DosTime = members_.back().dosTime;
    header.DosDate = members_.back().dosDate;
    return header;
}

void Writer::Append(const void* data, std::size_t len)
{
    Write(data, len);
}

void Writer::End(std::uint32_t crc, std::uint64_t uncompressed, std::uint64_t compressed)
{
    Member& m = members_.back();
    if (!m.zip64Local && (uncompressed >= kMax32 || compressed >= kMax32))
        throw ZipError("无法添加成员" + m.name + "：压缩期间它的文件变大了");
    // AE-2 leaves the CRC out: it would tell about the plain data.
    m.crc = m.aesExtra.empty() ? crc : 0;
    m.uncompressed = uncompressed;
    m.compressed = compressed;
    std::string p;
    Put32(p, m.crc);
    if (!m.zip64Local) {
        Put32(p, static_cast<std::uint32_t>(compressed));
        Put32(p, static_cast<std::uint32_t>(uncompressed));
        PatchAt(m.offset + 14, p);
    } else {
        PatchAt(m.offset + 14, p);
        std::string sizes;
        Put64(sizes, uncompressed);
        Put64(sizes, compressed);
        PatchAt(m.offset + kLocalLen + m.name.size() + 4, sizes);
    }
    inMember_ = false;
}

void Writer::AddFolder(const std::string& path, const std::string& name, std::int64_t modified, std::uint32_t mode)
{
    Source folder;
    folder.path = path;
    folder.modified = modified;
    folder.mode = mode;
    // A folder entry has no data to encrypt: it is written plain even in an
    // encrypted archive, as other writers do.
    struct Keep {
        std::string& password;
        std::string saved;
        ~Keep() { password = std::move(saved); }
    } keep{password_, std::exchange(password_, {})};
    Begin(folder, name + "/", ZipMethod::Stored);
    End(0, 0, 0);
    members_.back().folder = true;
}

bool Writer::HasMemberUnder(const std::string& prefix) const
{
    const auto it = names_.lower_bound(prefix);
    return it != names_.end() && it->compare(0, prefix.size(), prefix) == 0;
}

void Writer::Rollback()
{
    if (!inMember_ || !IsOpen())
        return;
    const std::uint64_t start = members_.back().offset;
    names_.erase(members_.back().name);
    members_.pop_back();
    inMember_ = false;
    const bool onDisk = start < bufferStart_;
    if (onDisk) {
        buffer_.clear();
        bufferStart_ = start;
    } else {
        buffer_.resize(static_cast<std::size_t>(start - bufferStart_));
    }
    // Cutting the file also drops whatever a failed write left past its end.
    if (onDisk || broken_) {
        try {
            file_->Truncate(bufferStart_);
        } catch (const safefile::Error& e) {
            throw ZipError("无法写入" + archivePath_ + "：" + e.what());
        }
        broken_ = false;
    }
}

std::string Writer::CentralHeader(const Member& m) const
{
    const bool zip64 = forceZip64_ || m.uncompressed >= kMax32 || m.compressed >= kMax32 || m.offset >= kMax32;
    std::string extra;
    if (zip64) {
        std::string values;
        if (forceZip64_ || m.uncompressed >= kMax32)
            Put64(values, m.uncompressed);
        if (forceZip64_ || m.compressed >= kMax32)
            Put64(values, m.compressed);
        if (forceZip64_ || m.offset >= kMax32)
            Put64(values, m.offset);
        Put16(extra, kExtraZip64);
        Put16(extra, static_cast<std::uint16_t>(values.size()));
        extra += values;
    }
    if (FitsTimeField(m.modified)) {
        Put16(extra, kExtraTime);
        Put16(extra, 5);
        extra.push_back(1);
        Put32(extra, static_cast<std::uint32_t>(m.modified));
    }
    extra += m.aesExtra;
    const std::uint16_t needed = NeededVersion(!m.aesExtra.empty(), zip64 || m.zip64Local);
    std::string h;
    Put32(h, kCentralSig);
    Put16(h, static_cast<std::uint16_t>((kHostUnix << 8) | std::max(needed, kVersionZip64)));
    Put16(h, needed);
    Put16(h, m.flags);
    Put16(h, m.method);
    Put16(h, m.dosTime);
    Put16(h, m.dosDate);
    Put32(h, m.crc);
    Put32(h, Saturate32(m.compressed, forceZip64_));
    Put32(h, Saturate32(m.uncompressed, forceZip64_));
    Put16(h, static_cast<std::uint16_t>(m.name.size()));
    Put16(h, static_cast<std::uint16_t>(extra.size()));
    Put16(h, 0);  // comment
    Put16(h, 0);  // disk
    Put16(h, 0);  // internal attributes
    if (m.folder)
        Put32(h, ((0040000u | (m.mode & 0777)) << 16) | 0x10);  // folder; DOS "directory"
    else
        Put32(h, ((0100000u | (m.mode & 0777)) << 16) | 0x20);  // regular file; DOS "archive"
    Put32(h, Saturate32(m.offset, forceZip64_));
    h += m.name;
    h += extra;
    return h;
}

void Writer::WriteEnd(std::uint64_t cdOffset, std::uint64_t cdSize)
{
    const std::uint64_t count = members_.size();
    const bool zip64 = forceZip64_ || count >= kMax16 || cdOffset >= kMax32 || cdSize >= kMax32;
    std::string e;
    if (zip64) {
        const std::uint64_t recordOffset = Offset();
        Put32(e, kEnd64Sig);
        Put64(e, kEnd64Len - 12);
        Put16(e, static_cast<std::uint16_t>((kHostUnix << 8) | kVersionZip64));
        Put16(e, kVersionZip64);
        Put32(e, 0);
        Put32(e, 0);
        Put64(e, count);
        Put64(e, count);
        Put64(e, cdSize);
        Put64(e, cdOffset);
        Put32(e, kLocator64Sig);
        Put32(e, 0);
        Put64(e, recordOffset);
        Put32(e, 1);
    }
    const std::uint16_t count16 = zip64 && (forceZip64_ || count >= kMax16) ? kMax16 : static_cast<std::uint16_t>(count);
    Put32(e, kEndSig);
    Put16(e, 0);
    Put16(e, 0);
    Put16(e, count16);
    Put16(e, count16);
    Put32(e, Saturate32(cdSize, forceZip64_));
    Put32(e, Saturate32(cdOffset, forceZip64_));
    Put16(e, 0);
    Write(e.data(), e.size());
}

void Writer::Finish()
{
    if (!IsOpen())
        return;
    Rollback();
    if (broken_) {
        Abort();
        throw ZipError("无法完成压缩文件" + archivePath_ + "：之前的一次写入已失败");
    }
    const std::uint64_t cdOffset = Offset();
    for (const Member& m : members_) {
        const std::string h = CentralHeader(m);
        Write(h.data(), h.size());
    }
    WriteEnd(cdOffset, Offset() - cdOffset);
    Flush();
    try {
        file_->Commit();
    } catch (const safefile::Error& e) {
        Abort();
        throw ZipError("无法创建压缩文件" + archivePath_ + "：" + e.what());
    }
    file_.reset();
    members_.clear();
    names_.clear();
}

void Writer::Abort()
{
    file_.reset();
    members_.clear();
    names_.clear();
    buffer_.clear();
    inMember_ = false;
    broken_ = false;
}

}  // namespace zipwrite

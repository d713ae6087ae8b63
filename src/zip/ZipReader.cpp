#include "ZipReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "CodePage.h"
#include "ZipCrc.h"
#include "ZipCrypto.h"
#include "ZipFormat.h"

namespace zipread {
namespace {

using namespace zipfmt;

[[noreturn]] void Bad(const std::string& why)
{
    throw ZipError("不是可读取的 ZIP 压缩文件：" + why);
}

const unsigned char* U(const std::string& s, std::size_t pos = 0)
{
    return reinterpret_cast<const unsigned char*>(s.data() + pos);
}

// Sequential reading of the central directory through a bounded window, so
// that no buffer is ever sized from a count or size in the file.
class CentralStream {
public:
    CentralStream(const zipio::Source& source, std::uint64_t begin, std::uint64_t end)
        : source_(source), pos_(begin), end_(end)
    {
    }

    // The next n bytes (n is at most a fixed header plus three 16-bit lengths).
    std::string Take(std::size_t n)
    {
        if (n > end_ - pos_)
            Bad("中央目录不完整");
        if (window_.size() - used_ < n) {
            window_.erase(0, used_);
            used_ = 0;
            const std::uint64_t windowEnd = pos_ + window_.size();
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(end_ - windowEnd, std::max<std::size_t>(n, 1 << 16)));
            const std::size_t old = window_.size();
            window_.resize(old + want);
            source_.ReadExact(windowEnd, window_.data() + old, want, "中央目录");
        }
        std::string out = window_.substr(used_, n);
        used_ += n;
        pos_ += n;
        return out;
    }
    std::uint64_t Position() const { return pos_; }
    // Whether at least len bytes are left and they start with signature sig.
    bool NextIs(std::uint32_t sig, std::size_t len)
    {
        if (end_ - pos_ < len)
            return false;
        const std::string next = Take(4);
        pos_ -= 4;
        used_ -= 4;
        return Get32(U(next)) == sig;
    }

private:
    const zipio::Source& source_;
    std::uint64_t pos_;
    std::uint64_t end_;
    std::string window_;
    std::size_t used_ = 0;
};

// Values the Zip64 extra field replaces, in the order the field stores them.
struct Zip64Values {
    std::uint64_t* uncompressed = nullptr;
    std::uint64_t* compressed = nullptr;
    std::uint64_t* offset = nullptr;
    std::uint32_t* disk = nullptr;
};

// Fills the values that are saturated in the fixed header from the Zip64
// extra field. Returns whether such a field was present.
bool ApplyZip64(const std::string& extra, const Zip64Values& v, const std::string& name)
{
    bool present = false;
    bool fine = true;
    const bool framed = ForEachExtra(extra, [&](std::uint16_t tag, std::string_view data) {
        if (tag != kExtraZip64 || present)
            return;
        present = true;
        std::size_t pos = 0;
        auto take64 = [&](std::uint64_t* field) {
            if (!field || *field != kMax32)
                return;
            if (data.size() - pos < 8) {
                fine = false;
                return;
            }
            *field = Get64(reinterpret_cast<const unsigned char*>(data.data() + pos));
            pos += 8;
        };
        take64(v.uncompressed);
        take64(v.compressed);
        take64(v.offset);
        if (fine && v.disk && *v.disk == kMax16 && data.size() - pos >= 4)
            *v.disk = Get32(reinterpret_cast<const unsigned char*>(data.data() + pos));
    });
    if (!framed)
        Bad("成员" + name + "的扩展字段长度有误");
    if (!fine)
        Bad("成员" + name + "的 Zip64 扩展字段太短");
    return present;
}

std::int64_t ExtendedMtime(const std::string& extra, bool* found)
{
    std::int64_t mtime = 0;
    *found = false;
    ForEachExtra(extra, [&](std::uint16_t tag, std::string_view data) {
        if (tag == kExtraTime && data.size() >= 5 && (data[0] & 1)) {
            mtime = static_cast<std::int32_t>(Get32(reinterpret_cast<const unsigned char*>(data.data() + 1)));
            *found = true;
        }
    });
    return mtime;
}

// A WinZip AES member names its real method, key strength and version in its
// own extra field; without a sound one the member keeps method 99, which no
// codec takes.
void ReadAesField(const std::string& extra, Entry& entry)
{
    ForEachExtra(extra, [&](std::uint16_t tag, std::string_view data) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        if (tag != zipcrypto::kExtraAes || data.size() < 7 || data.substr(2, 2) != "AE" || p[4] < 1 || p[4] > 3)
            return;
        entry.aesVersion = Get16(p);
        entry.aesStrength = p[4];
        entry.codecMethod = Get16(p + 5);
    });
}

// One entry of the central directory, its offsets moved by shift.
Entry ReadEntry(CentralStream& in, std::uint64_t shift)
{
    const std::string fixed = in.Take(kCentralLen);
    const unsigned char* h = U(fixed);
    if (Get32(h) != kCentralSig)
        Bad("中央目录中的一个文件头已损坏");
    Entry entry;
    ZipHeader& hd = entry.header;
    const std::uint32_t external = Get32(h + 38);
    hd.Flags = Get16(h + 8);
    hd.Method = Get16(h + 10);
    hd.DosTime = Get16(h + 12);
    hd.DosDate = Get16(h + 14);
    hd.Crc32 = Get32(h + 16);
    hd.CompressedSize = Get32(h + 20);
    hd.UncompressedSize = Get32(h + 24);
    const std::uint16_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
    std::uint32_t disk = Get16(h + 34);
    entry.localOffset = Get32(h + 42);
    entry.rawName = in.Take(nameLen);
    const std::string extra = in.Take(extraLen);
    in.Take(commentLen);

    if (entry.rawName.empty())
        Bad("有成员的名称为空");
    if (entry.rawName.find('\0') != std::string::npos)
        Bad("有成员名中有 NUL 字符");
    ApplyZip64(extra, {&hd.UncompressedSize, &hd.CompressedSize, &entry.localOffset, &disk}, entry.rawName);
    // 0xFFFF with no Zip64 value behind it: a writer's filler for disk 0.
    if (disk != 0 && disk != kMax16)
        throw ZipError("不支持分卷（多磁盘）的 ZIP 压缩文件");
    entry.localOffset = Add(entry.localOffset, shift, "成员的位置");
    entry.host = h[5];
    entry.codecMethod = hd.Method;
    if (hd.Method == zipcrypto::kMethodAes)
        ReadAesField(extra, entry);
    hd.Name = DecodeName(entry.rawName, extra, entry.host);
    const char last = hd.Name.back();
    // DOS and Windows mark a folder by its attribute; some of their
    // writers leave the "/" off its name.
    const bool dosFolder = (entry.host == 0 || entry.host == 10 || entry.host == 14) && (external & 0x10);
    entry.isFolder = last == '/' || (last == '\\' && UsesDosNames(entry.host)) || dosFolder;
    // Only a regular file's mode is taken; a link's data is its target.
    const std::uint32_t mode = external >> 16;
    if (entry.host == kHostUnix || entry.host == kHostMac) {
        if ((mode & 0170000) == 0100000)
            entry.unixMode = mode & 07777;
        entry.isLink = !entry.isFolder && (mode & 0170000) == 0120000;
    }
    bool found = false;
    entry.modified = ExtendedMtime(extra, &found);
    if (!found)
        entry.modified = FromDosTime(hd.DosTime, hd.DosDate);
    if (hd.Method == static_cast<std::uint16_t>(ZipMethod::Stored) && !(hd.Flags & kFlagEncrypted) &&
        hd.CompressedSize != hd.UncompressedSize)
        Bad("不压缩的成员" + hd.Name + "有两个不同的大小");
    return entry;
}

// Where the Zip64 end record is: at recPos as the locator says, or else at
// last (right before the locator) when the archive has bytes in front.
std::uint64_t RecordBeforeLocator(const zipio::Source& source, std::uint64_t recPos, std::uint64_t last)
{
    unsigned char sig[4];
    source.ReadExact(recPos, sig, sizeof sig, "Zip64 结束记录");
    if (Get32(sig) == kEnd64Sig)
        return recPos;
    source.ReadExact(last, sig, sizeof sig, "Zip64 结束记录");
    return Get32(sig) == kEnd64Sig ? last : recPos;
}

}  // namespace

std::string DecodeName(const std::string& raw, const std::string& centralExtra, std::uint8_t host)
{
    std::string fromField;
    bool haveField = false;
    ForEachExtra(centralExtra, [&](std::uint16_t tag, std::string_view data) {
        if (tag != kExtraUnicodePath || haveField || data.size() < 6 || data[0] != 1)
            return;
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        const std::uint32_t crc = zipcrc::Update(0, raw.data(), raw.size());
        std::string_view name = data.substr(5);
        if (Get32(p + 1) == crc && codepage::IsValidUtf8(name) && name.find('\0') == std::string_view::npos) {
            fromField.assign(name);
            haveField = true;
        }
    });
    if (haveField)
        return fromField;
    if (codepage::IsValidUtf8(raw) || !UsesDosNames(host))
        return raw;
    std::string decoded;
    return codepage::AnsiToUtf8Exact(raw, decoded) ? decoded : raw;
}

void Reader::Open(const std::string& path)
{
    Close();
    // Never opened unless it is a regular file: opening a FIFO waits forever.
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw ZipError("不是可读取的 ZIP 压缩文件：" + path + "不是文件");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw ZipError("无法打开" + path + "：" + platform::ErrnoText(errno));
    zipio::Fd owned(fd);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw ZipError("不是可读取的 ZIP 压缩文件：" + path + "不是文件");
    Open(std::move(owned), static_cast<std::uint64_t>(st.st_size), path);
}

void Reader::Open(zipio::Fd fd, std::uint64_t size, const std::string& path)
{
    Close();
    source_.OpenFile(std::move(fd), size);
    path_ = path;
    Load();
}

void Reader::OpenMemory(const void* data, std::size_t size, const std::string& name)
{
    Close();
    source_.OpenMemory(data, size);
    path_ = name;
    Load();
}

void Reader::Load()
{
    try {
        const End end = ReadEnd();
        ReadCentralDirectory(end);
        for (Entry& entry : entries_)
            CheckLocalHeader(entry, end.cdOffset);
        CheckOverlaps(end.cdOffset);
    } catch (...) {
        Close();
        throw;
    }
}

void Reader::Close()
{
    source_.Reset();
    entries_.clear();
}

Reader::End Reader::ReadEnd()
{
    if (source_.Size() < kEndLen)
        Bad("文件太短");
    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    const std::uint64_t size = source_.Size();
    const std::size_t tailLen = static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndLen + kMaxCommentLen));
    const std::uint64_t tailStart = size - tailLen;
    std::string tail(tailLen, '\0');
    source_.ReadExact(tailStart, tail.data(), tailLen, "中央目录结束记录");
    std::size_t at = std::string::npos;
    for (std::size_t i = tailLen - kEndLen + 1; i-- > 0;) {
        if (Get32(U(tail, i)) == kEndSig && i + kEndLen + Get16(U(tail, i + 20)) <= tailLen) {
            at = i;
            break;
        }
    }
    if (at == std::string::npos)
        Bad("找不到中央目录结束记录");
    const unsigned char* e = U(tail, at);
    const std::uint64_t endPos = tailStart + at;
    End end;
    std::uint32_t disk = Get16(e + 4), cdDisk = Get16(e + 6);
    std::uint64_t onDisk = Get16(e + 8);
    end.count = Get16(e + 10);
    end.cdSize = Get32(e + 12);
    end.cdOffset = Get32(e + 16);
    end.cdEnd = endPos;

    bool zip64 = false;
    if (endPos >= kLocator64Len) {
        unsigned char loc[kLocator64Len];
        source_.ReadExact(endPos - kLocator64Len, loc, sizeof loc, "Zip64 定位记录");
        if (Get32(loc) == kLocator64Sig) {
            zip64 = true;
            std::uint64_t recPos = Get64(loc + 8);
            // With bytes in front of the archive the locator points short of
            // the record, which then sits right before the locator.
            if (endPos - kLocator64Len >= kEnd64Len && recPos < endPos - kLocator64Len - kEnd64Len)
                recPos = RecordBeforeLocator(source_, recPos, endPos - kLocator64Len - kEnd64Len);
            if (Get32(loc + 4) != 0 || Get32(loc + 16) > 1)
                throw ZipError("不支持分卷（多磁盘）的 ZIP 压缩文件");
            if (recPos > endPos - kLocator64Len || endPos - kLocator64Len - recPos < kEnd64Len)
                Bad("Zip64 结束记录位于文件之外");
            unsigned char rec[kEnd64Len];
            source_.ReadExact(recPos, rec, sizeof rec, "Zip64 结束记录");
            if (Get32(rec) != kEnd64Sig)
                Bad("Zip64 结束记录缺失");
            disk = Get32(rec + 16);
            cdDisk = Get32(rec + 20);
            onDisk = Get64(rec + 24);
            end.count = Get64(rec + 32);
            end.cdSize = Get64(rec + 40);
            end.cdOffset = Get64(rec + 48);
            end.cdEnd = recPos;
        }
    }
    if (!zip64) {
        // Some writers fill the 16-bit fields with 0xFFFF without writing the
        // Zip64 record those values would point to: a disk number then means
        // 0 and the count is unknown. Others let the count wrap past 65,535.
        disk = disk == kMax16 ? 0 : disk;
        cdDisk = cdDisk == kMax16 ? 0 : cdDisk;
        end.readToEnd = true;
        end.countUnknown = end.count == kMax16;
    }
    if (disk != 0 || cdDisk != 0 || onDisk != end.count)
        throw ZipError("不支持分卷（多磁盘）的 ZIP 压缩文件");
    FindShift(end);
    if (!end.countUnknown && end.count > end.cdSize / kCentralLen)
        Bad("成员数与中央目录不符");
    return end;
}

// The central directory ends where the end record (or the Zip64 record)
// sits. When the offset and size recorded put its end earlier, the bytes in
// front of the archive were not counted (a stub prepended to it): the
// directory is taken where it ends up with that shift, if it really starts
// there, as unzip does.
void Reader::FindShift(End& end)
{
    const std::uint64_t recorded = Add(end.cdOffset, end.cdSize, "中央目录");
    if (recorded == end.cdEnd)
        return;
    if (recorded > end.cdEnd)
        Bad("中央目录不在结束记录所指的位置");
    end.shift = end.cdEnd - recorded;
    end.cdOffset += end.shift;
    unsigned char sig[4] = {};
    if (end.cdSize >= sizeof sig)
        source_.ReadExact(end.cdOffset, sig, sizeof sig, "中央目录");
    if (end.cdSize != 0 && Get32(sig) != kCentralSig)
        Bad("中央目录不在结束记录所指的位置");
}

void Reader::ReadCentralDirectory(const End& end)
{
    entries_.clear();
    // The count is only a claim: the list grows as headers prove real.
    entries_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(end.count, 4096)));
    CentralStream in(source_, end.cdOffset, end.cdEnd);
    const std::uint64_t claimed = end.countUnknown ? 0 : end.count;
    while (entries_.size() < claimed)
        entries_.push_back(ReadEntry(in, end.shift));
    // A count that wrapped past 65,535 (or was left at 0xFFFF) without a
    // Zip64 record: the directory's size says how far its entries go, and
    // the number read must wrap to the count.
    if (end.readToEnd) {
        while (in.NextIs(kCentralSig, kCentralLen))
            entries_.push_back(ReadEntry(in, end.shift));
        if (!end.countUnknown && (entries_.size() & kMax16) != (end.count & kMax16))
            Bad("中央目录比其中的成员长");
    }
    if (in.Position() != end.cdEnd)
        Bad("中央目录比其中的成员长");
}

void Reader::CheckLocalHeader(Entry& entry, std::uint64_t limit)
{
    const ZipHeader& hd = entry.header;
    if (entry.localOffset > limit || limit - entry.localOffset < kLocalLen)
        Bad("成员" + hd.Name + "位于文件之外");
    // One read takes the fixed part, the name and the usual extra fields.
    std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(limit - entry.localOffset,
                                                                       kLocalLen + entry.rawName.size() + 256)),
                     '\0');
    source_.ReadExact(entry.localOffset, head.data(), head.size(), "本地文件头");
    const unsigned char* h = U(head);
    if (Get32(h) != kLocalSig)
        Bad("成员" + hd.Name + "的本地文件头缺失");
    const std::uint16_t flags = Get16(h + 6);
    const std::uint16_t nameLen = Get16(h + 26), extraLen = Get16(h + 28);
    const std::uint64_t varStart = entry.localOffset + kLocalLen;
    if (limit - varStart < static_cast<std::uint64_t>(nameLen) + extraLen)
        Bad("成员" + hd.Name + "的本地文件头超出了成员数据");
    const std::size_t varLen = static_cast<std::size_t>(nameLen) + extraLen;
    if (head.size() < kLocalLen + varLen) {
        const std::size_t have = head.size();
        head.resize(kLocalLen + varLen);
        source_.ReadExact(entry.localOffset + have, head.data() + have, head.size() - have,
                         "本地文件头");
        h = U(head);
    }
    const std::string name = head.substr(kLocalLen, nameLen);
    const std::string extra = head.substr(kLocalLen + nameLen, extraLen);
    const auto disagree = [&](const char* what) {
        Bad("成员" + hd.Name + "的本地文件头与中央目录不一致（" + what + "）");
    };
    // Either header may carry the name in a Unicode Path field over bytes
    // of a legacy code page; what counts is the name each one means.
    if (name != entry.rawName && DecodeName(name, extra, entry.host) != hd.Name)
        disagree("名称");
    if (Get16(h + 8) != hd.Method)
        disagree("压缩方法");
    if ((flags & kFlagEncrypted) != (hd.Flags & kFlagEncrypted))
        disagree("加密");
    std::uint64_t usize = Get32(h + 22), csize = Get32(h + 18);
    const bool zip64 = ApplyZip64(extra, {&usize, &csize, nullptr, nullptr}, hd.Name) ||
                       hd.CompressedSize >= kMax32 || hd.UncompressedSize >= kMax32;
    const bool descriptor = (flags & kFlagDescriptor) != 0;
    if (!descriptor && (Get32(h + 14) != hd.Crc32 || usize != hd.UncompressedSize || csize != hd.CompressedSize))
        disagree("大小或校验和");
    entry.dataOffset = varStart + nameLen + extraLen;
    if (hd.CompressedSize > limit - entry.dataOffset)
        Bad("成员" + hd.Name + "的数据超出了成员区的末尾");
    entry.endOffset = entry.dataOffset + hd.CompressedSize;
    if (descriptor)
        CheckDescriptor(entry, zip64, limit);
}

void Reader::CheckDescriptor(Entry& entry, bool zip64, std::uint64_t limit)
{
    const ZipHeader& hd = entry.header;
    unsigned char d[24] = {};
    const std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(24, limit - entry.endOffset));
    source_.ReadExact(entry.endOffset, d, avail, "数据描述符");
    // The descriptor may or may not start with its signature, and holds 8-byte
    // sizes for Zip64 members; take the layout whose values match.
    for (const bool sig : {true, false}) {
        for (const bool wide : {zip64, !zip64}) {
            const std::size_t len = (sig ? 4 : 0) + 4 + (wide ? 16 : 8);
            if (len > avail || (sig && Get32(d) != kDescriptorSig))
                continue;
            const unsigned char* p = d + (sig ? 4 : 0);
            const std::uint64_t c = wide ? Get64(p + 4) : Get32(p + 4);
            const std::uint64_t u = wide ? Get64(p + 12) : Get32(p + 8);
            if (Get32(p) == hd.Crc32 && c == hd.CompressedSize && u == hd.UncompressedSize) {
                entry.endOffset += len;
                return;
            }
        }
    }
    Bad("成员" + hd.Name + "的数据描述符与中央目录不一致");
}

void Reader::CheckOverlaps(std::uint64_t limit) const
{
    std::vector<std::size_t> order(entries_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return entries_[a].localOffset < entries_[b].localOffset; });
    const Entry* previous = nullptr;
    for (const std::size_t i : order) {
        const Entry& e = entries_[i];
        if (e.endOffset > limit)
            Bad("成员" + e.header.Name + "的数据伸进了中央目录");
        if (previous && e.localOffset < previous->endOffset)
            Bad("成员" + previous->header.Name + "与成员" + e.header.Name + "相互重叠");
        previous = &e;
    }
}

}  // namespace zipread

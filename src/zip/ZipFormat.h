#pragma once
// The shared types and record layouts of the ZIP container, little-endian
// field access and the checked arithmetic every offset and size goes through.
// The reader, the writer and the archive all start from here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// The types the reader, the writer and the archive share.
enum class ZipMode { Read, Write };
enum class ZipMethod : std::uint16_t { Stored = 0, Deflate = 8 };

class ZipError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ZipHeader {
    std::uint64_t UncompressedSize = 0;
    std::uint64_t CompressedSize = 0;
    std::uint32_t Crc32 = 0;
    std::uint16_t Method = 0;
    std::uint16_t Flags = 0;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
    std::string Name;  // UTF-8
};

// Receives one member inflated into memory, with its relative path ("/" separated).
using ZipMemberSink =
    std::function<void(const ZipHeader& Header, const std::string& RelativePath, std::string&& Data)>;

namespace zipfmt {

inline constexpr std::uint32_t kLocalSig = 0x04034b50;
inline constexpr std::uint32_t kCentralSig = 0x02014b50;
inline constexpr std::uint32_t kEndSig = 0x06054b50;
inline constexpr std::uint32_t kEnd64Sig = 0x06064b50;
inline constexpr std::uint32_t kLocator64Sig = 0x07064b50;
inline constexpr std::uint32_t kDescriptorSig = 0x08074b50;

inline constexpr std::size_t kLocalLen = 30;      // + name + extra
inline constexpr std::size_t kCentralLen = 46;    // + name + extra + comment
inline constexpr std::size_t kEndLen = 22;        // + comment
inline constexpr std::size_t kEnd64Len = 56;      // + extensible data
inline constexpr std::size_t kLocator64Len = 20;
inline constexpr std::size_t kMaxCommentLen = 0xFFFF;

inline constexpr std::uint16_t kExtraZip64 = 0x0001;
inline constexpr std::uint16_t kExtraTime = 0x5455;         // Info-ZIP extended timestamp
inline constexpr std::uint16_t kExtraUnicodePath = 0x7075;  // Info-ZIP Unicode Path

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;

inline constexpr std::uint16_t kVersionDefault = 20;
inline constexpr std::uint16_t kVersionZip64 = 45;
inline constexpr std::uint16_t kHostUnix = 3;
inline constexpr std::uint16_t kHostMac = 19;  // macOS (Darwin), Unix modes too

// Hosts whose names use "\" as a separator and may carry a drive prefix:
// MS-DOS/FAT (0), Windows NTFS (10), VFAT (14), and any host past the known
// ones (macOS is 19), whose customs we can't know.
inline constexpr bool UsesDosNames(std::uint8_t host)
{
    return host == 0 || host == 10 || host == 14 || host > 19;
}

inline constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
inline constexpr std::uint16_t kMax16 = 0xFFFFu;

inline std::uint16_t Get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Get32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const unsigned char* p)
{
    return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

inline void Put16(std::string& out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}
inline void Put32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void Put64(std::string& out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void Patch32(char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Patch64(char* p, std::uint64_t v)
{
    Patch32(p, static_cast<std::uint32_t>(v));
    Patch32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// a + b, or a ZipError naming what overflowed. Header values never take part
// in unchecked arithmetic.
inline std::uint64_t Add(std::uint64_t a, std::uint64_t b, const char* what)
{
    std::uint64_t r;
    if (__builtin_add_overflow(a, b, &r))
        throw ZipError(std::string("不是可读取的 ZIP 压缩文件：") + what + "超出范围");
    return r;
}

// Walks the extra fields of a header. Returns false when a field claims more
// bytes than the block holds; a tail shorter than a field header is padding.
template <typename Fn>
bool ForEachExtra(std::string_view extra, Fn&& fn)
{
    std::size_t pos = 0;
    while (extra.size() - pos >= 4) {
        const auto* p = reinterpret_cast<const unsigned char*>(extra.data() + pos);
        const std::uint16_t tag = Get16(p);
        const std::uint16_t len = Get16(p + 2);
        pos += 4;
        if (len > extra.size() - pos)
            return false;
        fn(tag, extra.substr(pos, len));
        pos += len;
    }
    return true;
}

// DOS date and time of a file's last write, in local time; dates before 1980
// become 1980-01-01 and dates past 2107 the last day DOS can hold.
void ToDosTime(std::int64_t unixSeconds, std::uint16_t& dosTime, std::uint16_t& dosDate);
std::int64_t FromDosTime(std::uint16_t dosTime, std::uint16_t dosDate);

}  // namespace zipfmt

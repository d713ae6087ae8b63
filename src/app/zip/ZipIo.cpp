#include "ZipIo.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "ZipArchive.h"
#include "ZipFormat.h"

namespace zipio {

std::string ErrnoText(int err)
{
    return std::strerror(err);
}

namespace {

[[noreturn]] void PastTheEnd(const char* what)
{
    throw ZipError(std::string("不是可读取的 ZIP 压缩文件：") + what + "超出了文件末尾");
}

void ReadExactFromFile(int fd, std::uint64_t offset, void* buf, std::size_t len, const char* what)
{
    auto* out = static_cast<char*>(buf);
    while (len > 0) {
        const ssize_t n = ::pread(fd, out, len, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ZipError(std::string("无法读取压缩文件：") + ErrnoText(errno));
        if (n == 0)
            PastTheEnd(what);
        out += n;
        len -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

}  // namespace

void Source::OpenFile(Fd fd, std::uint64_t size)
{
    Reset();
    fd_ = std::move(fd);
    size_ = size;
}

void Source::OpenMemory(const void* data, std::size_t size)
{
    Reset();
    data_ = static_cast<const unsigned char*>(data);
    memory_ = true;
    size_ = size;
}

void Source::Reset()
{
    fd_.Reset();
    data_ = nullptr;
    memory_ = false;
    size_ = 0;
}

void Source::ReadExact(std::uint64_t offset, void* buf, std::size_t len, const char* what) const
{
    if (!memory_) {
        ReadExactFromFile(fd_.Get(), offset, buf, len, what);
        return;
    }
    if (offset > size_ || len > size_ - offset)
        PastTheEnd(what);
    if (len > 0)
        std::memcpy(buf, data_ + offset, len);
}

std::size_t ReadSome(int fd, void* buf, std::size_t len, const std::string& path)
{
    for (;;) {
        const ssize_t n = ::read(fd, buf, len);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw ZipError("无法读取" + path + "：" + ErrnoText(errno));
    }
}

void WriteAll(int fd, const void* buf, std::size_t len, const std::string& path)
{
    try {
        safefile::WriteAll(fd, buf, len);
    } catch (const safefile::Error& e) {
        throw ZipError("无法写入" + path + "：" + e.what());
    }
}

void WriteAllAt(int fd, const void* buf, std::size_t len, std::uint64_t offset, const std::string& path)
{
    try {
        safefile::WriteAllAt(fd, buf, len, offset);
    } catch (const safefile::Error& e) {
        throw ZipError("无法写入" + path + "：" + e.what());
    }
}

}  // namespace zipio

namespace zipfmt {

void ToDosTime(std::int64_t unixSeconds, std::uint16_t& dosTime, std::uint16_t& dosDate)
{
    std::tm local{};
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    if (!localtime_r(&t, &local) || local.tm_year < 80) {
        dosTime = 0;
        dosDate = (1 << 5) | 1;  // 1980-01-01 00:00
        return;
    }
    if (local.tm_year > 207) {
        dosTime = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
        dosDate = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
        return;
    }
    dosTime = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    dosDate = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
}

std::int64_t FromDosTime(std::uint16_t dosTime, std::uint16_t dosDate)
{
    std::tm local{};
    local.tm_year = ((dosDate >> 9) & 0x7F) + 80;
    local.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
    local.tm_mday = dosDate & 0x1F;
    local.tm_hour = (dosTime >> 11) & 0x1F;
    local.tm_min = (dosTime >> 5) & 0x3F;
    local.tm_sec = (dosTime & 0x1F) * 2;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local));
}

}  // namespace zipfmt

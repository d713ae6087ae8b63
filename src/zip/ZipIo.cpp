#include "ZipIo.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

#include "ZipFormat.h"

namespace zipio {

namespace {

[[noreturn]] void PastTheEnd(const char* what)
{
    throw ZipError(std::string("不是可读取的 ZIP 压缩文件：") + what + "超出了文件末尾");
}

// Reads up to len bytes at offset, fewer only at the end of the file.
std::size_t ReadFromFile(int fd, std::uint64_t offset, void* buf, std::size_t len)
{
    try {
        return safefile::ReadAllAt(fd, buf, len, offset);
    } catch (const safefile::Error& e) {
        throw ZipError(std::string("无法读取压缩文件：") + e.what());
    }
}

constexpr std::size_t kWindow = 256 * 1024;

}  // namespace

struct Source::Window {
    std::mutex mutex;
    std::vector<unsigned char> bytes = std::vector<unsigned char>(kWindow);
    std::uint64_t start = 0;
    std::size_t length = 0;
};

Source::Source() = default;
Source::~Source() = default;
Source::Source(Source&&) noexcept = default;
Source& Source::operator=(Source&&) noexcept = default;

void Source::OpenFile(Fd fd, std::uint64_t size)
{
    Reset();
    fd_ = std::move(fd);
    size_ = size;
    window_ = std::make_unique<Window>();
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
    window_.reset();
    data_ = nullptr;
    memory_ = false;
    size_ = 0;
}

void Source::ReadExact(std::uint64_t offset, void* buf, std::size_t len, const char* what) const
{
    if (!memory_) {
        if (len >= kWindow / 2) {
            if (ReadFromFile(fd_.Get(), offset, buf, len) < len)
                PastTheEnd(what);
            return;
        }
        std::lock_guard<std::mutex> lock(window_->mutex);
        Window& w = *window_;
        if (offset < w.start || offset - w.start > w.length || len > w.length - (offset - w.start)) {
            w.start = offset;
            w.length = 0;  // nothing stays valid if the read fails
            w.length = ReadFromFile(fd_.Get(), offset, w.bytes.data(), kWindow);
        }
        if (offset - w.start > w.length || len > w.length - (offset - w.start))
            PastTheEnd(what);
        if (len > 0)
            std::memcpy(buf, w.bytes.data() + (offset - w.start), len);
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
            throw ZipError("无法读取" + path + "：" + platform::ErrnoText(errno));
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

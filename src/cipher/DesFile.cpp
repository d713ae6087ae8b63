// File encryption: the DES-ECB ciphertext of the zero-filled file, then the
// plaintext length as a 32-bit little-endian signed integer.
//
// Both directions stream in chunks, so memory stays small whatever the file
// size, and write into a temporary file beside the target that replaces the
// target only once it is complete: a failure part-way leaves the old target
// (or, when they are one path, the source) as it was.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <vector>

#include "DESUnit.h"
#include "DesPipeline.h"

namespace fs = std::filesystem;

namespace {

using despipe::kChunk;
// A file of two chunks or more gains from the second core.
constexpr std::uint64_t kTwoCoreSize = 2 * kChunk;
// The length field is a signed 32-bit integer.
constexpr std::uint64_t kMaxPlainSize = 0x7FFFFFFF;

constexpr const char* kEmptyArgument = "源文件、目标文件或密码为空";
constexpr const char* kNotAFile = "源文件不存在或不是文件";
constexpr const char* kCannotRead = "无法读取源文件";
constexpr const char* kTooLarge = "文件过大，不能超过2147483647字节!";
constexpr const char* kBadSize = "无效的数据大小!";
constexpr const char* kCannotCreate = "无法创建目标文件";
constexpr const char* kCannotWrite = "写入目标文件失败";
constexpr const char* kCannotReplace = "无法替换目标文件";
constexpr const char* kNotRegularTarget = "目标已存在且不是文件";
constexpr const char* kOutOfMemory = "内存不足";

DesFileResult Fail(std::string reason)
{
    return {false, std::move(reason)};
}

std::string WithCause(const char* what, int error)
{
    if (error == 0)
        return what;
    return std::string(what) + "：" + std::strerror(error);
}

std::string WithCause(const char* what, const std::error_code& error)
{
    return error ? std::string(what) + "：" + error.message() : std::string(what);
}

// A name for the temporary file that no other run picks at the same moment.
std::string TemporaryName()
{
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::uint64_t s = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        try {
            s ^= std::uint64_t{std::random_device{}()} << 32;
        } catch (...) {
        }
        return s;
    }();
    std::mt19937_64 mix(seed + counter.fetch_add(1));
    char name[40];
    std::snprintf(name, sizeof name, ".velmora-%016llx.tmp", static_cast<unsigned long long>(mix()));
    return name;
}

// The target's new content, written to a temporary file in the target's
// folder; the file is renamed over the target by Commit and removed by the
// destructor otherwise.
class TemporaryTarget {
public:
    // A link as target is written through: its file gets the new content.
    explicit TemporaryTarget(const std::string& target) : target_(target)
    {
        std::error_code error;
        if (fs::is_symlink(target, error)) {
            const fs::path resolved = fs::canonical(target, error);
            if (!error)
                target_ = resolved.string();
        }
    }
    TemporaryTarget(const TemporaryTarget&) = delete;
    TemporaryTarget& operator=(const TemporaryTarget&) = delete;

    ~TemporaryTarget()
    {
        if (file_)
            std::fclose(file_);
        if (!temporary_.empty() && !committed_) {
            std::error_code ignored;
            fs::remove(temporary_, ignored);
        }
    }

    bool Open(std::string& reason)
    {
        // Only a regular file is ever replaced, never a folder or a device.
        std::error_code error;
        const fs::file_status status = fs::status(target_, error);
        if (fs::exists(status) && !fs::is_regular_file(status)) {
            reason = kNotRegularTarget;
            return false;
        }
        const fs::path folder = fs::path(target_).parent_path();
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string candidate = (folder / TemporaryName()).string();
            errno = 0;
            // "x": never open a file that is already there.
            file_ = std::fopen(candidate.c_str(), "wbx");
            if (file_) {
                temporary_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        reason = WithCause(kCannotCreate, errno);
        return false;
    }

    bool Write(const std::uint8_t* data, std::size_t size, std::string& reason)
    {
        errno = 0;
        if (std::fwrite(data, 1, size, file_) == size)
            return true;
        reason = WithCause(kCannotWrite, errno);
        return false;
    }

    bool Commit(std::string& reason)
    {
        errno = 0;
        const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
        const int flushError = errno;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!flushed || !closed) {
            reason = WithCause(kCannotWrite, flushed ? errno : flushError);
            return false;
        }
        // A replaced target keeps its permissions.
        std::error_code error;
        const fs::file_status old = fs::status(target_, error);
        if (!error && fs::is_regular_file(old))
            fs::permissions(temporary_, old.permissions(), error);
        fs::rename(temporary_, target_, error);
        if (error) {
            reason = WithCause(kCannotReplace, error);
            return false;
        }
        committed_ = true;
        return true;
    }

private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

// Opens the source and finds its size; only regular files (or links to
// them) are sources.
bool OpenSource(const std::string& path, std::ifstream& in, std::uint64_t& size, std::string& reason)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        reason = WithCause(kNotAFile, error);
        return false;
    }
    size = fs::file_size(path, error);
    errno = 0;
    if (!error)
        in.open(path, std::ios::binary);
    if (error || !in.is_open()) {
        reason = error ? WithCause(kCannotRead, error) : WithCause(kCannotRead, errno);
        return false;
    }
    return true;
}

// Reads up to size bytes; fewer only at the end of the file.
bool ReadUpTo(std::ifstream& in, std::uint8_t* data, std::size_t size, std::size_t& got, std::string& reason)
{
    errno = 0;
    in.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
    got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        reason = WithCause(kCannotRead, errno);
        return false;
    }
    return true;
}

void Report(const DesProgress& progress, std::uint64_t done, std::uint64_t total)
{
    if (progress)
        progress(done, total);
}

DesFileResult EncryptStream(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                            const DesProgress& progress)
{
    std::ifstream in;
    std::uint64_t size = 0;
    std::string reason;
    if (!OpenSource(sourcePath, in, size, reason))
        return Fail(reason);
    if (size > kMaxPlainSize)
        return Fail(kTooLarge);

    TemporaryTarget out(targetPath);
    if (!out.Open(reason))
        return Fail(reason);
    const DesCipher cipher(DesKeyFromText(keyText), true);
    std::uint64_t total = 0, written = 0;
    bool ended = false;
    const auto read = [&](std::uint8_t* chunk, std::size_t& blocks) {
        std::size_t got = 0;
        if (!ended && !ReadUpTo(in, chunk, kChunk, got, reason))
            return false;
        ended = ended || got < kChunk;
        total += got;
        // The file may have grown since its size was taken.
        if (total > kMaxPlainSize) {
            reason = kTooLarge;
            return false;
        }
        // The last block is filled up with zero bytes.
        const std::size_t padded = (got + 7) / 8 * 8;
        std::memset(chunk + got, 0, padded - got);
        blocks = padded / 8;
        return true;
    };
    const auto write = [&](const std::uint8_t* chunk, std::size_t blocks) {
        if (!out.Write(chunk, blocks * 8, reason))
            return false;
        written += blocks * 8;
        Report(progress, std::min(written, total), size);
        return true;
    };
    if (!despipe::Run(cipher, size >= kTwoCoreSize, read, write))
        return Fail(reason);
    in.close();

    const std::uint8_t length[4] = {static_cast<std::uint8_t>(total), static_cast<std::uint8_t>(total >> 8),
                                    static_cast<std::uint8_t>(total >> 16), static_cast<std::uint8_t>(total >> 24)};
    if (!out.Write(length, sizeof length, reason) || !out.Commit(reason))
        return Fail(reason);
    return {};
}

DesFileResult DecryptStream(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                            const DesProgress& progress)
{
    std::ifstream in;
    std::uint64_t size = 0;
    std::string reason;
    if (!OpenSource(sourcePath, in, size, reason))
        return Fail(reason);
    if (size < 4 || (size - 4) % 8 != 0)
        return Fail(kBadSize);

    // The stored length must be exactly what the payload holds: N bytes in
    // ceil(N / 8) blocks. Anything else is not a file the encryptor wrote.
    const std::uint64_t payload = size - 4;
    std::uint8_t field[4];
    std::size_t got = 0;
    in.seekg(static_cast<std::streamoff>(payload));
    if (!ReadUpTo(in, field, 4, got, reason))
        return Fail(reason);
    if (got != 4)
        return Fail(kCannotRead);
    const std::int32_t stored = static_cast<std::int32_t>(std::uint32_t{field[0]} | std::uint32_t{field[1]} << 8 |
                                                          std::uint32_t{field[2]} << 16 |
                                                          std::uint32_t{field[3]} << 24);
    if (stored < 0 || (static_cast<std::uint64_t>(stored) + 7) / 8 * 8 != payload)
        return Fail(kBadSize);
    in.seekg(0);

    TemporaryTarget out(targetPath);
    if (!out.Open(reason))
        return Fail(reason);
    const DesCipher cipher(DesKeyFromText(keyText), false);
    std::uint64_t read = 0, done = 0;
    const std::uint64_t plain = static_cast<std::uint64_t>(stored);
    const auto readChunk = [&](std::uint8_t* chunk, std::size_t& blocks) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, payload - read));
        if (want != 0 && !ReadUpTo(in, chunk, want, got, reason))
            return false;
        // The file shrank while it was read.
        if (want != 0 && got != want) {
            reason = kCannotRead;
            return false;
        }
        read += want;
        blocks = want / 8;
        return true;
    };
    const auto writeChunk = [&](const std::uint8_t* chunk, std::size_t blocks) {
        const std::size_t length = blocks * 8;
        // Fill bytes of the last block are dropped.
        const std::size_t keep = static_cast<std::size_t>(std::min<std::uint64_t>(length, plain - std::min(plain, done)));
        if (!out.Write(chunk, keep, reason))
            return false;
        done += length;
        Report(progress, done, payload);
        return true;
    };
    if (!despipe::Run(cipher, payload >= kTwoCoreSize, readChunk, writeChunk))
        return Fail(reason);
    in.close();
    if (!out.Commit(reason))
        return Fail(reason);
    return {};
}

// The file routines never throw: whatever goes wrong becomes a reason.
template <typename Work> DesFileResult Guarded(Work work)
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Fail(kOutOfMemory);
    } catch (const std::exception& e) {
        return Fail(e.what());
    } catch (...) {
        return Fail(kCannotWrite);
    }
}

}  // namespace

DesFileResult DesEncryptFile(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                             const DesProgress& progress)
{
    if (sourcePath.empty() || targetPath.empty() || keyText.empty())
        return Fail(kEmptyArgument);
    return Guarded([&] { return EncryptStream(sourcePath, targetPath, keyText, progress); });
}

DesFileResult DesDecryptFile(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                             const DesProgress& progress)
{
    if (sourcePath.empty() || targetPath.empty() || keyText.empty())
        return Fail(kEmptyArgument);
    return Guarded([&] { return DecryptStream(sourcePath, targetPath, keyText, progress); });
}

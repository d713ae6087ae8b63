// File encryption: the DES-ECB ciphertext of the zero-filled file, then the
// plaintext length as a 32-bit little-endian signed integer.
//
// Both directions stream in chunks, so memory stays small whatever the file
// size, and write through safefile::NewFile: the target takes its name only
// once complete, so a failure part-way leaves the old target (or, when they
// are one path, the source) as it was. A copy gets its source's permission
// bits.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "DESUnit.h"
#include "DesPipeline.h"
#include "SafeFile.h"

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
constexpr const char* kWrongPasswordKept = "密码可能不正确，已保留加密文件";
constexpr const char* kOutOfMemory = "内存不足";

DesFileResult Fail(std::string reason)
{
    return {false, std::move(reason)};
}

std::string WithCause(const char* what, const safefile::Error& error)
{
    return std::string(what) + "：" + error.what();
}

// A file-system failure at one step of a file routine, turned into the
// reason the batch shows; Guarded makes it the routine's result.
struct Failed {
    std::string reason;
};

template <typename Step> auto Try(const char* what, Step step) -> decltype(step())
{
    try {
        return step();
    } catch (const safefile::Error& e) {
        throw Failed{WithCause(what, e)};
    }
}

// The same for the chunk steps of the pipeline, which report by result:
// false with the reason set.
template <typename Step> bool Safely(const char* what, std::string& reason, Step step)
{
    try {
        step();
        return true;
    } catch (const safefile::Error& e) {
        reason = WithCause(what, e);
        return false;
    }
}

safefile::Source OpenSource(const std::string& path)
{
    try {
        return safefile::Source(path);
    } catch (const safefile::Error& e) {
        throw Failed{WithCause(e.Code() == ENOENT || e.Code() == EISDIR || e.Code() == ENODEV ? kNotAFile : kCannotRead,
                               e)};
    }
}

void Report(const DesProgress& progress, std::uint64_t done, std::uint64_t total)
{
    if (progress)
        progress(done, total);
}

DesFileResult EncryptStream(safefile::Source& in, const safefile::Folder& folder, const std::string& name,
                            std::string_view keyText, const DesProgress& progress)
{
    const std::uint64_t size = in.Size();
    if (size > kMaxPlainSize)
        return Fail(kTooLarge);

    safefile::NewFile out = Try(kCannotCreate, [&] { return safefile::NewFile(folder, name); });
    out.SetMode(in.Mode() & 0777);  // as cp does: no set-id or sticky bits on a copy
    const DesCipher cipher(DesKeyFromText(keyText), true);
    std::uint64_t total = 0, written = 0;
    bool ended = false;
    std::string reason;
    // The file is taken at the size it had when its work began: what another
    // program appends meanwhile is not part of this copy.
    const auto read = [&](std::uint8_t* chunk, std::size_t& blocks) {
        std::size_t got = 0;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - total));
        if (!ended && !Safely(kCannotRead, reason, [&] { got = in.Read(chunk, want); }))
            return false;
        ended = ended || got < want || total + got == size;  // it may also have shrunk meanwhile
        total += got;
        // The last block is filled up with zero bytes.
        const std::size_t padded = (got + 7) / 8 * 8;
        std::memset(chunk + got, 0, padded - got);
        blocks = padded / 8;
        return true;
    };
    const auto write = [&](const std::uint8_t* chunk, std::size_t blocks) {
        if (!Safely(kCannotWrite, reason, [&] { out.Write(chunk, blocks * 8); }))
            return false;
        written += blocks * 8;
        Report(progress, std::min(written, total), size);
        return true;
    };
    if (!despipe::Run(cipher, size >= kTwoCoreSize, read, write))
        return Fail(reason);

    const std::uint8_t length[4] = {static_cast<std::uint8_t>(total), static_cast<std::uint8_t>(total >> 8),
                                    static_cast<std::uint8_t>(total >> 16), static_cast<std::uint8_t>(total >> 24)};
    Try(kCannotWrite, [&] { out.Write(length, sizeof length); });
    Try(kCannotReplace, [&] { out.Commit(); });
    return {};
}

DesFileResult DecryptStream(safefile::Source& in, const safefile::Folder& folder, const std::string& name,
                            std::string_view keyText, const DesProgress& progress)
{
    const std::uint64_t size = in.Size();
    if (size < 4 || (size - 4) % 8 != 0)
        return Fail(kBadSize);

    // The stored length must be exactly what the payload holds: N bytes in
    // ceil(N / 8) blocks. Anything else is not a file the encryptor wrote.
    const std::uint64_t payload = size - 4;
    std::uint8_t field[4];
    if (Try(kCannotRead, [&] { return in.ReadAt(field, 4, payload); }) != 4)
        return Fail(kCannotRead);
    const std::int32_t stored = static_cast<std::int32_t>(std::uint32_t{field[0]} | std::uint32_t{field[1]} << 8 |
                                                          std::uint32_t{field[2]} << 16 |
                                                          std::uint32_t{field[3]} << 24);
    if (stored < 0 || (static_cast<std::uint64_t>(stored) + 7) / 8 * 8 != payload)
        return Fail(kBadSize);

    // Decrypting onto itself replaces the only ciphertext; that happens only
    // when the fill comes out as the zeros our encryptor writes.
    const bool inPlace = safefile::NameHolds(folder, name, in.Id());
    safefile::NewFile out = Try(kCannotCreate, [&] { return safefile::NewFile(folder, name); });
    out.SetMode(in.Mode() & 0777);  // as cp does: no set-id or sticky bits on a copy
    const DesCipher cipher(DesKeyFromText(keyText), false);
    std::uint64_t read = 0, done = 0;
    bool zeroFill = true;
    std::string reason;
    const std::uint64_t plain = static_cast<std::uint64_t>(stored);
    const auto readChunk = [&](std::uint8_t* chunk, std::size_t& blocks) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, payload - read));
        std::size_t got = 0;
        if (want != 0 && !Safely(kCannotRead, reason, [&] { got = in.Read(chunk, want); }))
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
        for (std::size_t i = keep; i < length; ++i)
            zeroFill = zeroFill && chunk[i] == 0;
        if (!Safely(kCannotWrite, reason, [&] { out.Write(chunk, keep); }))
            return false;
        done += length;
        Report(progress, done, payload);
        return true;
    };
    if (!despipe::Run(cipher, payload >= kTwoCoreSize, readChunk, writeChunk))
        return Fail(reason);
    if (inPlace && !zeroFill)
        return Fail(kWrongPasswordKept);
    Try(kCannotReplace, [&] { out.Commit(); });
    return {};
}

// The file routines never throw: whatever goes wrong becomes a reason.
template <typename Work> DesFileResult Guarded(Work work)
{
    try {
        return work();
    } catch (const Failed& failed) {
        return Fail(failed.reason);
    } catch (const std::bad_alloc&) {
        return Fail(kOutOfMemory);
    } catch (const std::exception& e) {
        return Fail(e.what());
    } catch (...) {
        return Fail(kCannotWrite);
    }
}

using Stream = DesFileResult (*)(safefile::Source&, const safefile::Folder&, const std::string&, std::string_view,
                                 const DesProgress&);

DesFileResult RunToPath(Stream stream, const std::string& sourcePath, const std::string& targetPath,
                        std::string_view keyText, const DesProgress& progress)
{
    if (sourcePath.empty() || targetPath.empty() || keyText.empty())
        return Fail(kEmptyArgument);
    return Guarded([&] {
        const safefile::Folder folder =
            Try(kCannotCreate, [&] { return safefile::Folder::Open(safefile::FolderOf(targetPath)); });
        safefile::Source in = OpenSource(sourcePath);
        return stream(in, folder, safefile::BareName(targetPath), keyText, progress);
    });
}

DesFileResult RunInFolder(Stream stream, const std::string& sourcePath, const safefile::Folder& folder,
                          const std::string& name, std::string_view keyText, const DesProgress& progress)
{
    if (sourcePath.empty() || name.empty() || keyText.empty())
        return Fail(kEmptyArgument);
    return Guarded([&] {
        safefile::Source in = OpenSource(sourcePath);
        return stream(in, folder, name, keyText, progress);
    });
}

DesFileResult RunOpen(Stream stream, safefile::Source& in, const safefile::Folder& folder, const std::string& name,
                      std::string_view keyText, const DesProgress& progress)
{
    if (name.empty() || keyText.empty())
        return Fail(kEmptyArgument);
    return Guarded([&] { return stream(in, folder, name, keyText, progress); });
}

}  // namespace

DesFileResult DesEncryptFile(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                             const DesProgress& progress)
{
    return RunToPath(EncryptStream, sourcePath, targetPath, keyText, progress);
}

DesFileResult DesDecryptFile(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                             const DesProgress& progress)
{
    return RunToPath(DecryptStream, sourcePath, targetPath, keyText, progress);
}

DesFileResult DesEncryptFile(const std::string& sourcePath, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress)
{
    return RunInFolder(EncryptStream, sourcePath, targetFolder, targetName, keyText, progress);
}

DesFileResult DesDecryptFile(const std::string& sourcePath, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress)
{
    return RunInFolder(DecryptStream, sourcePath, targetFolder, targetName, keyText, progress);
}

DesFileResult DesEncryptFile(safefile::Source& source, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress)
{
    return RunOpen(EncryptStream, source, targetFolder, targetName, keyText, progress);
}

DesFileResult DesDecryptFile(safefile::Source& source, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress)
{
    return RunOpen(DecryptStream, source, targetFolder, targetName, keyText, progress);
}

#pragma once
// Writes a ZIP archive into a temporary file beside its final path and puts
// it in place only when it is finished, so a failure never leaves a damaged
// archive and never costs an earlier archive of that name.

#include "Reach.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "ZipFormat.h"
#include "ZipIo.h"

namespace zipwrite {

using Progress = std::function<void(const std::string& fileName, const ZipHeader& header, std::int64_t position)>;

// A source file opened for reading with other writers shut out.
struct Source {
    zipio::Fd fd;
    std::string path;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::uint32_t mode = 0;
};
// Decides, from what stat says of a file before it is opened, whether it is
// taken at all.
using Admit = std::function<bool(const std::string& path, const struct stat& st)>;
// Opens a file to be added; throws ZipError for a folder, a special file or
// one that can't be opened. When admit is given and turns a file down, it
// isn't opened and the result's fd stays closed.
// With a root that has a folder, path is reached below that folder only; a
// file the root refuses (a link leaving it or leading nowhere, a FIFO) goes
// to skipped when given and isn't opened, and otherwise throws reach::Refused.
using Skipped = std::function<void(const std::string& path, reach::Skip why)>;
Source OpenSource(const std::string& path, const Admit& admit = {}, const reach::Root& from = {},
                  const Skipped& skipped = {});

class Writer {
public:
    ~Writer();

    // Checks the archive's folder and creates the temporary file there.
    void Open(const std::string& archivePath);
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& ArchivePath() const { return archivePath_; }
    // Every member carries Zip64 fields and the archive the Zip64 end records
    // (used to exercise those paths without 4 GiB of data).
    void SetForceZip64(bool force) { forceZip64_ = force; }
    // Members begun from now on are encrypted with WinZip AES-256 (AE-2)
    // under this UTF-8 password; empty: not encrypted. Their data, as passed
    // to Append, is the salt and verifier, the encrypted data and the code.
    void SetPassword(std::string password) { password_ = std::move(password); }
    const std::string& Password() const { return password_; }

    // A member is begun (its local header written with the sizes left open),
    // its compressed data appended in order, and ended with its checksum and
    // sizes, which are then filled into the local header. A failure between
    // Begin and End is undone with Rollback, leaving the earlier members.
    ZipHeader Begin(const Source& source, const std::string& memberName, ZipMethod method);
    void Append(const void* data, std::size_t len);
    void End(std::uint32_t crc, std::uint64_t uncompressed, std::uint64_t compressed);
    void Rollback();
    // A stored entry "name/" for a folder, with its Unix mode and the DOS
    // folder attribute, so that an empty folder survives the archive.
    void AddFolder(const std::string& path, const std::string& name, std::int64_t modified, std::uint32_t mode);
    // Whether some member's name begins with prefix.
    bool HasMemberUnder(const std::string& prefix) const;

    // Writes the central directory and puts the archive in place. After a
    // failed write the archive is incomplete: it is dropped, never finished.
    void Finish();
    // Drops the temporary file; an earlier archive of that name is untouched.
    void Abort();

private:
    struct Member {
        std::string name;
        std::uint16_t method = 0, dosTime = 0, dosDate = 0, flags = 0;
        std::uint32_t crc = 0, mode = 0;
        std::uint64_t uncompressed = 0, compressed = 0, offset = 0;
        std::int64_t modified = 0;
        bool zip64Local = false;
        std::string aesExtra;  // the 0x9901 field of an encrypted member
        bool folder = false;
    };
    void Write(const void* data, std::size_t len);
    void Flush();
    void PatchAt(std::uint64_t offset, const std::string& bytes);
    std::uint64_t Offset() const { return bufferStart_ + buffer_.size(); }
    std::string CentralHeader(const Member& m) const;
    void WriteEnd(std::uint64_t cdOffset, std::uint64_t cdSize);

    std::string archivePath_;
    std::unique_ptr<safefile::NewFile> file_;
    bool broken_ = false;  // a write failed: bytes past bufferStart_ are unknown
    std::string buffer_;
    std::uint64_t bufferStart_ = 0;
    std::vector<Member> members_;
    std::set<std::string> names_;
    bool inMember_ = false;
    bool forceZip64_ = false;
    std::string password_;
};

}  // namespace zipwrite

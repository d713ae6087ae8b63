#pragma once
// Reads and checks the directory of a ZIP archive. Nothing of the file is
// trusted: every offset, size and count is checked against the file before
// it is used, and each member's local header must agree with its central one.

#include <cstdint>
#include <string>
#include <vector>

#include "ZipFormat.h"
#include "ZipIo.h"

namespace zipread {

struct Entry {
    ZipHeader header;          // Name is the decoded UTF-8 name
    std::string rawName;       // the name bytes as stored
    std::uint64_t localOffset = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t endOffset = 0;  // past the data and any data descriptor
    std::int64_t modified = 0;    // seconds since 1970
    std::uint8_t host = 0;        // the system the archive was made on ("version made by")
    bool isFolder = false;
    bool isLink = false;  // a symbolic link stored by a Unix-like host; its data is the target
    // The method the member's data is compressed with once its filter has
    // run: the header's method, unless an extra field says otherwise.
    std::uint16_t codecMethod = 0;
    // WinZip AES members: the field's version (1 or 2) and key strength
    // (1, 2, 3 for 128, 192, 256 bits); 0 for any other member.
    std::uint16_t aesVersion = 0;
    std::uint8_t aesStrength = 0;
    // The permission bits stored by a Unix-like host, 0 when none are stored.
    std::uint32_t unixMode = 0;
};

class Reader {
public:
    // Opens and checks the archive; throws ZipError when it is no readable ZIP archive.
    void Open(const std::string& path);
    // The same for an archive already open (a regular file of that size);
    // path names it in messages.
    void Open(zipio::Fd fd, std::uint64_t size, const std::string& path);
    // The same for an archive held in memory; the bytes must stay alive and
    // unchanged until Close. name stands for the archive in messages.
    void OpenMemory(const void* data, std::size_t size, const std::string& name);
    void Close();
    bool IsOpen() const { return source_.Valid(); }
    const zipio::Source& Source() const { return source_; }
    const std::string& Path() const { return path_; }
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    struct End {
        std::uint64_t count = 0;
        std::uint64_t cdOffset = 0;
        std::uint64_t cdSize = 0;
        std::uint64_t cdEnd = 0;  // where the central directory must end
        // Bytes in front of the archive (a self-extracting stub) that its
        // offsets don't count; every offset read is moved by them.
        std::uint64_t shift = 0;
        // Without a Zip64 record a count over 65,535 wraps, so the
        // directory is read to its end; 0xFFFF there says nothing.
        bool readToEnd = false;
        bool countUnknown = false;
    };
    End ReadEnd();
    void ReadCentralDirectory(const End& end);
    void CheckLocalHeader(Entry& entry, std::uint64_t limit);
    void CheckDescriptor(Entry& entry, bool zip64, std::uint64_t limit);
    void CheckOverlaps(std::uint64_t limit) const;
    void FindShift(End& end);
    void Load();

    zipio::Source source_;
    std::string path_;
    std::vector<Entry> entries_;
};

// The file-system name of a stored name: a non-empty UTF-8 Unicode Path extra
// field whose CRC matches the stored name wins; else the bytes when they are
// valid UTF-8 (flagged or not). Bytes that aren't are a Linux name as it was
// when the archive comes from Unix or macOS; from other hosts they are
// decoded in the ANSI code page of the user's locale, or kept as they are
// when that code page can't decode them, so no two names become one.
std::string DecodeName(const std::string& raw, const std::string& centralExtra, std::uint8_t host);

}  // namespace zipread

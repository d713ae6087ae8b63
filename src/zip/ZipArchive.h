#pragma once
// ZIP archives as the PKWARE APPNOTE describes them, written and read on zlib.
// Paths are UTF-8 byte strings. Every failure is a ZipError.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DirWalk.h"
#include "ZipFormat.h"
#include "ZipWriter.h"

class ZipArchive;
using ZipProgress = std::function<void(ZipArchive* Sender, const std::string& FileName, const ZipHeader& Header,
                                       std::int64_t Position)>;

class ZipArchive {
public:
    explicit ZipArchive(ZipProgress onProgress = {});
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    void Open(const std::string& archivePath, ZipMode mode);
    // Opens for reading an archive held in memory; the bytes must stay alive
    // and unchanged until Close.
    void OpenBuffer(const void* data, std::size_t size);
    // With a root that has a folder, the source is reached below it only (see reach::Root::OpenFile).
    void Add(const std::string& sourcePath, const std::string& memberName = {}, ZipMethod method = ZipMethod::Deflate,
             const reach::Root& from = {});
    // Opens for reading an archive already open; path names it in messages.
    void OpenRead(safefile::Fd fd, std::uint64_t size, const std::string& path);
    // Extracts every member of the archive opened for reading below targetFolder.
    void ExtractAll(const std::string& targetFolder);
    // The same into a folder already open.
    void ExtractAll(const safefile::Folder& targetFolder);
    // In write mode finishes the archive and puts it in place; an archive
    // object destroyed without Close discards what it had written, and an
    // earlier archive of that name stays as it was.
    void Close();
    // In write mode drops what was written: no archive is put in place, and
    // an earlier archive of that name stays as it was.
    void Abandon();

    // Every file of the folder's tree into a new archive, each reached below
    // the folder. FIFOs, sockets, devices and links that leave the folder or
    // lead nowhere are never opened: they are left out and handed to
    // skipped; subfolders the walk passes over go to skippedFolder. A password
    // encrypts every member (see SetPassword).
    static void ZipDirectoryContents(const std::string& archivePath, const std::string& folder, ZipMethod method,
                                     ZipProgress onProgress, const zipwrite::Skipped& skipped = {},
                                     const dirwalk::OnSkippedFolder& skippedFolder = {},
                                     const std::string& password = {});
    static void ExtractZipFile(const std::string& archivePath, const std::string& targetFolder, ZipProgress onProgress);

    void SetOnProgress(ZipProgress onProgress);

    // The members of the archive open for reading, in directory order.
    std::vector<ZipHeader> Headers() const;
    // Inflates every member of the archive open for reading and checks its
    // size and CRC-32, writing nothing; throws ZipError on the first fault.
    void TestAll();
    // Inflates every file member of the archive open for reading into memory
    // after the same checks as ExtractAll, handing each to onMember in
    // directory order. Throws ZipError when the members together would hold
    // more than cap bytes.
    void ExtractToMemory(std::uint64_t cap, const ZipMemberSink& onMember);
    // Writes Zip64 fields for every member and the Zip64 end records even when
    // nothing needs them (applies to the next Open for writing).
    void SetForceZip64(bool force);
    // Encrypts every member written after the next Open for writing with
    // WinZip AES-256 under this UTF-8 password; empty: no encryption. Also
    // the password that opens the encrypted members of an archive read.
    void SetPassword(const std::string& password);
    // Whether the archive open for reading holds an encrypted file member,
    // and whether a password opens it (told by its first encrypted member's
    // header alone; a wrong password still fails the member when that guess
    // was wrong, one time in 65,536 for AES, one in 256 for PKWARE).
    bool NeedsPassword() const;
    bool PasswordOpens(const std::string& password) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

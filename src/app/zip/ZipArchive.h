#pragma once
// ZIP archives as the PKWARE APPNOTE describes them, written and read on zlib.
// Paths are UTF-8 byte strings. Every failure is a ZipError.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

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
    void Add(const std::string& sourcePath, const std::string& memberName = {}, ZipMethod method = ZipMethod::Deflate);
    // Extracts every member of the archive opened for reading below targetFolder.
    void ExtractAll(const std::string& targetFolder);
    void Close();

    static void ZipDirectoryContents(const std::string& archivePath, const std::string& folder, ZipMethod method,
                                     ZipProgress onProgress);
    static void ExtractZipFile(const std::string& archivePath, const std::string& targetFolder, ZipProgress onProgress);

    void SetOnProgress(ZipProgress onProgress);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

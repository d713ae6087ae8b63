#pragma once
// The few file-system calls the ZIP facility makes, on POSIX descriptors.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ErrnoText.h"
#include "SafeFile.h"

namespace zipio {

using Fd = safefile::Fd;

// Where an archive's bytes come from: a file opened for reading, or bytes in
// memory that the caller keeps alive and unchanged while the source is used.
class Source {
public:
    Source();
    ~Source();
    Source(Source&&) noexcept;
    Source& operator=(Source&&) noexcept;
    void OpenFile(Fd fd, std::uint64_t size);
    void OpenMemory(const void* data, std::size_t size);
    void Reset();
    bool Valid() const { return fd_.Valid() || memory_; }
    std::uint64_t Size() const { return size_; }
    // Reads exactly len bytes at offset, else throws ZipError with "what".
    // Small reads of a file are served from a window read ahead of them, so
    // that the headers and data of many small members cost one read.
    void ReadExact(std::uint64_t offset, void* buf, std::size_t len, const char* what) const;

private:
    struct Window;
    Fd fd_;
    std::unique_ptr<Window> window_;
    const unsigned char* data_ = nullptr;
    bool memory_ = false;
    std::uint64_t size_ = 0;
};

// Reads up to len bytes from the current position; returns 0 at end of file.
std::size_t ReadSome(int fd, void* buf, std::size_t len, const std::string& path);
// Writes all bytes at the current position.
void WriteAll(int fd, const void* buf, std::size_t len, const std::string& path);
void WriteAllAt(int fd, const void* buf, std::size_t len, std::uint64_t offset, const std::string& path);

// The folder part of a path ("." for a bare name) and the last part.
using safefile::BareName;
using safefile::FolderOf;

}  // namespace zipio

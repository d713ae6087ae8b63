#pragma once
// The few file-system calls the ZIP facility makes, on POSIX descriptors.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zipio {

// An owned file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset();

private:
    int fd_ = -1;
};

// The system's text for errno.
std::string ErrnoText(int err);

// Where an archive's bytes come from: a file opened for reading, or bytes in
// memory that the caller keeps alive and unchanged while the source is used.
class Source {
public:
    void OpenFile(Fd fd, std::uint64_t size);
    void OpenMemory(const void* data, std::size_t size);
    void Reset();
    bool Valid() const { return fd_.Valid() || memory_; }
    std::uint64_t Size() const { return size_; }
    // Reads exactly len bytes at offset, else throws ZipError with "what".
    void ReadExact(std::uint64_t offset, void* buf, std::size_t len, const char* what) const;

private:
    Fd fd_;
    const unsigned char* data_ = nullptr;
    bool memory_ = false;
    std::uint64_t size_ = 0;
};

// Reads up to len bytes from the current position; returns 0 at end of file.
std::size_t ReadSome(int fd, void* buf, std::size_t len, const std::string& path);
// Writes all bytes at the current position.
void WriteAll(int fd, const void* buf, std::size_t len, const std::string& path);
void WriteAllAt(int fd, const void* buf, std::size_t len, std::uint64_t offset, const std::string& path);

// Creates an empty file with a fresh name beginning ".vz" in a folder and
// returns it opened for writing; *name receives its name within the folder.
// The folder is dirFd, or when dirFd is -1 the folder at folderPath (which
// otherwise only names the folder in messages).
Fd CreateTemp(int dirFd, std::string* name, const std::string& folderPath);

// The folder part of a path ("." for a bare name) and the last part.
std::string FolderOf(const std::string& path);
std::string BareName(const std::string& path);

}  // namespace zipio

#pragma once
// One file's size, attribute word and dates as texts for a file-list row, the
// CSV line built from them, and the writer of the list file. Nothing here
// knows of widgets.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "SafeFile.h"

struct FileInfo {
    std::int64_t FileSize = 0;   // 64-bit: sizes of 2 GiB and more are shown as they are
    std::int32_t FileAttInt = 0;
    QString CreateTime;
    QString ViewTime;
    QString ModifyTime;
    std::int32_t ExcludeAttr = 0;
};

// Attribute bits as the list shows them (the Windows file-attribute word).
namespace fileatt {
inline constexpr std::int32_t ReadOnly = 0x1;
inline constexpr std::int32_t Hidden = 0x2;
inline constexpr std::int32_t System = 0x4;
inline constexpr std::int32_t Directory = 0x10;
inline constexpr std::int32_t Archive = 0x20;
inline constexpr std::int32_t ReparsePoint = 0x400;
}  // namespace fileatt

// Overwrites every field. A path that can't be found (or read) gives size 0,
// attribute word 0 and "0000/00/00" as all three dates; it never throws.
void ReadFileInfo(const QString& path, FileInfo& info);

// Names an attribute word; a word that is not exactly one of the known values
// gives "未知，属性代码：" and the word in signed decimal.
QString FileAttToText(std::int32_t att);

// The CSV line of one file (seven fields, no line end). A field holding a
// comma, a double quote, a CR or an LF is quoted with inner quotes doubled.
QString FileListLine(const QString& path, const FileInfo& info);

// A write to the list file failed; the message names the file and the cause.
class ListFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The list file: UTF-8 without a byte-order mark, CR LF after every line,
// written through a large buffer into a temporary file that takes the name
// only when Close succeeds, so a failure keeps an earlier list of that name
// whole. Creation fails with std::runtime_error, every later write with
// ListFileError, each with the message the user sees. Destroying a writer
// that was not closed drops what it wrote.
class FileListWriter {
public:
    // A link of that name is replaced when the list is put in place.
    explicit FileListWriter(const QString& fileName);
    // Writes to the process's standard output, which stays open afterwards.
    struct StandardOutput {};
    explicit FileListWriter(StandardOutput);
    ~FileListWriter();
    FileListWriter(const FileListWriter&) = delete;
    FileListWriter& operator=(const FileListWriter&) = delete;

    void WriteLine(const QString& line);
    // Writes the rest and puts the file in place.
    void Close();

private:
    void Flush();
    [[noreturn]] void Fail(const std::exception& cause);
    QString fileName_;
    std::unique_ptr<safefile::NewFile> file_;
    int fd_ = -1;  // the temporary file's, or standard output; -1 once closed or failed
    QByteArray buffer_;
};

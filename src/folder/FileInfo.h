#pragma once
// One file's size, attribute word and dates as texts for a file-list row.

#include <QString>
#include <cstdint>

struct FileInfo {
    std::int64_t FileSize = 0;   // 64-bit: sizes of 2 GiB and more are shown as they are
    std::int32_t FileAttInt = 0;
    QString CreateTime;
    QString ViewTime;
    QString ModifyTime;
    std::int32_t ExcludeAttr = 0;
};

void ReadFileInfo(const QString& path, FileInfo& info);
QString FileAttToText(std::int32_t att);

// The CSV line of one file (seven fields, no line end). A field holding a
// comma, a double quote, a CR or an LF is quoted with inner quotes doubled.
QString FileListLine(const QString& path, const FileInfo& info);

#include "DirWalk.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace dirwalk {
namespace {

bool IsBlank(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c == ' ' || c == '\t'; });
}

unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Case-insensitive ordinal comparison of UTF-8 names (byte order of UTF-8 is
// code point order); exact order breaks ties so the result is deterministic.
bool NameLess(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = Fold(static_cast<unsigned char>(a[i]));
        const unsigned char y = Fold(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

struct FolderId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FolderId&) const = default;
};

// Reads the entries of an open directory stream; the stream is closed here.
std::vector<Entry> ReadEntries(DIR* dir)
{
    std::vector<Entry> entries;
    const int fd = dirfd(dir);
    while (dirent* d = readdir(dir)) {
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        bool isFolder = false;
        if (d->d_type == DT_DIR) {
            isFolder = true;
        } else if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
            struct stat st{};
            isFolder = fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({name, isFolder});
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return NameLess(a.name, b.name); });
    return entries;
}

const char* OpenPath(const std::string& folder)
{
    // An empty text can't reach here (CheckPathText); "" must not mean the current folder.
    return folder.c_str();
}

// One depth-first pass that reads every folder once. Subfolder paths go to
// *folders in walk order; with files given, each folder's files follow its
// own ones in the same order, which is the order of the flat file list.
struct Collector {
    std::vector<std::string>* folders = nullptr;
    std::vector<std::string>* files = nullptr;
    std::vector<FolderId> onPath;
    std::function<bool()> cancelled;

    void Visit(const std::string& folder, DIR* dir)
    {
        if (cancelled && cancelled()) {
            closedir(dir);
            return;
        }
        struct stat self{};
        onPath.push_back(fstat(dirfd(dir), &self) == 0 ? FolderId{self.st_dev, self.st_ino} : FolderId{0, 0});
        const std::vector<Entry> entries = ReadEntries(dir);
        if (files)
            for (const Entry& e : entries)
                if (!e.isFolder)
                    files->push_back(Join(folder, e.name));
        for (const Entry& e : entries) {
            if (!e.isFolder)
                continue;
            std::string path = Join(folder, e.name);
            if (folders)
                folders->push_back(path);
            if (files)
                CheckPathText(path);  // a folder whose files can't be listed any more by its path
            struct stat st{};
            if (stat(path.c_str(), &st) != 0)
                continue;
            if (std::find(onPath.begin(), onPath.end(), FolderId{st.st_dev, st.st_ino}) != onPath.end())
                continue;  // a link back to a folder on the walk path: listed, not entered
            if (DIR* sub = opendir(path.c_str()))
                Visit(path, sub);  // a folder that can't be read is listed, its contents skipped
        }
        onPath.pop_back();
    }
};

DIR* OpenTop(const std::string& folder)
{
    CheckPathText(folder);
    struct stat st{};
    if (stat(OpenPath(folder), &st) != 0 || !S_ISDIR(st.st_mode))
        throw PathError(kNotFound);
    return opendir(OpenPath(folder));
}

}  // namespace

std::string Join(const std::string& folder, const std::string& name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

void CheckPathText(const std::string& folder)
{
    if (folder.empty() || IsBlank(folder) || folder.find('\0') != std::string::npos)
        throw PathError(kInvalidChars);
    if (folder.size() >= 4096)
        throw PathError(kTooLong);
    size_t start = 0;
    while (start <= folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string::npos)
            end = folder.size();
        if (end - start > 255)
            throw PathError(kTooLong);
        start = end + 1;
    }
}

std::vector<Entry> ReadFolder(const std::string& folder)
{
    CheckPathText(folder);
    struct stat st{};
    if (stat(OpenPath(folder), &st) != 0 || !S_ISDIR(st.st_mode))
        throw PathError(kNotFound);
    DIR* dir = opendir(OpenPath(folder));
    if (!dir)
        return {};  // exists but can't be read: lists as empty
    return ReadEntries(dir);
}

std::vector<std::string> FilesOf(const std::string& folder)
{
    std::vector<std::string> files;
    for (const Entry& e : ReadFolder(folder))
        if (!e.isFolder)
            files.push_back(Join(folder, e.name));
    return files;
}

std::vector<std::string> SubFolderWalk(const std::string& folder, const std::function<bool()>& cancelled)
{
    std::vector<std::string> out;
    Collector collector;
    collector.folders = &out;
    collector.cancelled = cancelled;
    if (DIR* dir = OpenTop(folder))
        collector.Visit(folder, dir);
    return out;
}

std::vector<std::string> AllFiles(const std::string& folder)
{
    std::vector<std::string> files;
    Collector collector;
    collector.files = &files;
    if (DIR* dir = OpenTop(folder))
        collector.Visit(folder, dir);
    return files;
}

}  // namespace dirwalk

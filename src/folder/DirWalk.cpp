#include "DirWalk.h"

#include "CodePage.h"
#include "Reach.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <utility>

namespace dirwalk {
namespace {

bool IsBlank(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c == ' ' || c == '\t'; });
}

// The sort key of a name: its text (undecodable bytes as their escapes) in
// Unicode simple uppercase, compared in UTF-16 code units as NTFS compares.
std::u16string UpperKey(const std::u16string& text)
{
    std::u16string key;
    key.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u < 0x80) {
            key += (u >= 'a' && u <= 'z') ? static_cast<char16_t>(u - 'a' + 'A') : u;
            continue;
        }
        UChar32 cp = u;
        if (U16_IS_LEAD(u) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1]))
            cp = U16_GET_SUPPLEMENTARY(u, text[++i]);
        cp = u_toupper(cp);
        if (cp >= 0x10000) {
            key += static_cast<char16_t>(U16_LEAD(cp));
            key += static_cast<char16_t>(U16_TRAIL(cp));
        } else {
            key += static_cast<char16_t>(cp);
        }
    }
    return key;
}

// A name's sort key as UpperKey gives it. Most names are ASCII: theirs is
// the uppercased bytes, made without decoding and short enough to need no
// allocation.
struct Sortable {
    std::string ascii;   // the key of an ASCII name
    std::u16string wide;  // the key of any other name
    bool isAscii;
};

Sortable KeyOf(const std::string& name)
{
    Sortable item{{}, {}, codepage::IsAscii(name)};
    if (!item.isAscii) {
        item.wide = UpperKey(codepage::EscapedUtf16(name));
        return item;
    }
    item.ascii = name;
    for (char& c : item.ascii)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return item;
}

// Compares two keys in UTF-16 code units: <0, 0 or >0.
int CompareKeys(const Sortable& a, const Sortable& b)
{
    if (a.isAscii && b.isAscii)
        return a.ascii.compare(b.ascii);
    const auto unit = [](const Sortable& s, std::size_t i) -> char16_t {
        return s.isAscii ? static_cast<char16_t>(s.ascii[i]) : s.wide[i];
    };
    const std::size_t na = a.isAscii ? a.ascii.size() : a.wide.size();
    const std::size_t nb = b.isAscii ? b.ascii.size() : b.wide.size();
    for (std::size_t i = 0; i < na && i < nb; ++i)
        if (unit(a, i) != unit(b, i))
            return unit(a, i) < unit(b, i) ? -1 : 1;
    return na < nb ? -1 : na > nb ? 1 : 0;
}

// Case-insensitive ordinal order; the exact text breaks ties so the result
// is deterministic (and two names never share a text). Ties are rare, so the
// texts are only decoded for them.
void SortByName(std::vector<Entry>& entries)
{
    std::vector<Sortable> keys;
    keys.reserve(entries.size());
    for (const Entry& e : entries)
        keys.push_back(KeyOf(e.name));
    // The order is found on indices, which move cheaply.
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (const int c = CompareKeys(keys[a], keys[b]); c != 0)
            return c < 0;
        return codepage::EscapedUtf16(entries[a].name) < codepage::EscapedUtf16(entries[b].name);
    });
    std::vector<Entry> sorted;
    sorted.reserve(entries.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(entries[i]));
    entries = std::move(sorted);
}

struct FolderId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FolderId&) const = default;
};

// What an entry is to the walk. A symbolic link to a folder is nothing at all:
// the walk never enters one, so it never leaves the tree, never reaches a file
// twice and never grows past the real tree. Any other link is a file entry.
enum class Kind { Folder, File, FolderLink };

Kind KindOf(int dirFd, const dirent* d)
{
    unsigned char type = d->d_type;
    if (type == DT_UNKNOWN) {
        struct stat st{};
        if (fstatat(dirFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return Kind::File;
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
    }
    if (type == DT_DIR)
        return Kind::Folder;
    if (type == DT_LNK) {
        struct stat st{};
        if (fstatat(dirFd, d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
            return Kind::FolderLink;
    }
    return Kind::File;
}

// Reads the entries of an open directory stream; the stream is closed here.
std::vector<Entry> ReadEntries(DIR* dir)
{
    std::vector<Entry> entries;
    const int fd = dirfd(dir);
    while (dirent* d = readdir(dir)) {
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const Kind kind = KindOf(fd, d);
        if (kind != Kind::FolderLink)
            entries.push_back({name, kind == Kind::Folder});
    }
    closedir(dir);
    SortByName(entries);
    return entries;
}

// A subfolder found by the walk, opened below the walk's top folder and only
// if it is still a folder and not a link put in its place since it was
// listed; errno tells why not.
DIR* OpenSubFolder(int top, const std::string& rel)
{
    try {
        safefile::Fd fd = reach::OpenBeneath(top, rel, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        DIR* dir = fdopendir(fd.Get());
        if (dir)
            fd.Release();
        return dir;
    } catch (const safefile::Error& e) {
        errno = e.Code();
        return nullptr;
    }
}

// Whether a folder path is past what a batch can name: 4096 bytes, or a part over 255.
bool TooLong(const std::string& path, const std::string& name)
{
    return path.size() >= 4096 || name.size() > 255;
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
    const std::function<void(const std::string&)>* onFile = nullptr;
    const OnSkippedFolder* onSkipped = nullptr;
    int top = -1;  // the named folder, which every subfolder is opened below
    std::vector<FolderId> onPath;
    std::function<bool()> cancelled;
    std::string filePath;  // reused for every file

    void Skip(const std::string& path, FolderSkip why) const
    {
        if (onSkipped && *onSkipped)
            (*onSkipped)(path, why);
    }

    void Visit(const std::string& folder, const std::string& rel, DIR* dir)
    {
        if (cancelled && cancelled()) {
            closedir(dir);
            return;
        }
        struct stat self{};
        onPath.push_back(fstat(dirfd(dir), &self) == 0 ? FolderId{self.st_dev, self.st_ino} : FolderId{0, 0});
        const std::vector<Entry> entries = ReadEntries(dir);
        if (onFile) {
            filePath = folder;
            if (filePath.empty() || filePath.back() != '/')
                filePath += '/';
            const std::size_t folderLength = filePath.size();
            for (const Entry& e : entries) {
                if (e.isFolder)
                    continue;
                filePath.resize(folderLength);
                filePath += e.name;
                (*onFile)(filePath);
            }
        }
        for (const Entry& e : entries) {
            if (!e.isFolder)
                continue;
            std::string path = Join(folder, e.name);
            std::string subRel = rel.empty() ? e.name : rel + '/' + e.name;
            if (folders)
                folders->push_back(path);
            if (onFile && TooLong(path, e.name)) {
                Skip(path, FolderSkip::TooLong);  // its files could not be named by their paths
                continue;
            }
            DIR* sub = OpenSubFolder(top, subRel);
            if (!sub) {
                // A folder that can't be read is listed, its contents skipped;
                // one gone since it was listed is simply no longer there.
                if (errno != ENOENT)
                    Skip(path, FolderSkip::Unreadable);
                continue;
            }
            struct stat st{};
            if (fstat(dirfd(sub), &st) == 0 &&
                std::find(onPath.begin(), onPath.end(), FolderId{st.st_dev, st.st_ino}) != onPath.end()) {
                closedir(sub);  // the same folder mounted below itself: listed, not entered
                continue;
            }
            Visit(path, subRel, sub);
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
    if (DIR* dir = OpenTop(folder)) {
        const safefile::Fd top(::fcntl(dirfd(dir), F_DUPFD_CLOEXEC, 0));
        collector.top = top.Get();
        collector.Visit(folder, {}, dir);
    }
    return out;
}

void ForEachFile(const std::string& folder, const std::function<void(const std::string&)>& onFile,
                 const OnSkippedFolder& onSkipped)
{
    Collector collector;
    collector.onFile = &onFile;
    collector.onSkipped = &onSkipped;
    DIR* dir = OpenTop(folder);
    if (!dir) {
        collector.Skip(folder, FolderSkip::Unreadable);
        return;
    }
    // Kept open for the whole walk: the top's stream is closed once it is read.
    const safefile::Fd top(::fcntl(dirfd(dir), F_DUPFD_CLOEXEC, 0));
    collector.top = top.Get();
    collector.Visit(folder, {}, dir);
}

std::vector<std::string> AllFiles(const std::string& folder, const OnSkippedFolder& onSkipped)
{
    std::vector<std::string> files;
    ForEachFile(folder, [&files](const std::string& path) { files.push_back(path); }, onSkipped);
    return files;
}

}  // namespace dirwalk

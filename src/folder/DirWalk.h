#pragma once
// The walk core: how a folder becomes lists of paths. Plain C++ on byte
// strings in the file-system encoding, shared by the folder services and the
// ZIP facility so that both collect the same files in the same order.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dirwalk {

// A folder text that names no usable folder. The message is the one the user sees.
class PathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kNotFound = "The specified path was not found";
inline constexpr const char* kInvalidChars = "Invalid characters in path";
inline constexpr const char* kNotSupported = "The path format is not supported";
inline constexpr const char* kTooLong = "The specified path is too long";

struct Entry {
    std::string name;
    bool isFolder = false;
};

// folder + "/" + name, unless the folder text already ends in "/".
std::string Join(const std::string& folder, const std::string& name);

// Throws PathError for a blank text, a NUL, a path of 4096 bytes or more or a
// component over 255 bytes.
void CheckPathText(const std::string& folder);

// The entries of one folder (not "." and ".."), names in case-insensitive
// ordinal order (Unicode simple uppercase, compared in UTF-16 code units) with
// exact order breaking ties. A symbolic link to a folder is left out: it is
// neither a folder entry nor a file entry. A link to anything else is a file. Throws PathError when the text is bad or names no folder; a
// folder that exists but can't be read gives no entries.
std::vector<Entry> ReadFolder(const std::string& folder);

// Entry paths of the files directly in the folder.
std::vector<std::string> FilesOf(const std::string& folder);

// Entry paths of every subfolder at every depth, each folder before its
// contents. Folder links are not entered (see ReadFolder); a folder mounted
// below itself is listed but not entered, so no walk loops. Only folders are
// read, never a file's contents, so even /proc is a finite walk. Subfolders that can't be
// read are listed and their contents skipped. When cancelled() turns true the
// walk ends early with what it has (a load the user has moved on from).
std::vector<std::string> SubFolderWalk(const std::string& folder, const std::function<bool()>& cancelled = {});

// Why the file walk passed over a subfolder and its contents.
enum class FolderSkip {
    Unreadable,  // it can't be opened or read
    TooLong,     // its path would reach 4096 bytes, or a part of it is over 255
};
using OnSkippedFolder = std::function<void(const std::string& path, FolderSkip why)>;

// Every file of the tree: the folder's own files, then each subfolder's in
// walk order. Throws PathError for a bad folder text before anything is added.
// Each subfolder is opened from the named folder's descriptor, never by its
// full path; one that can't be read or whose path is too long is handed to
// onSkipped and the rest of the tree is walked.
std::vector<std::string> AllFiles(const std::string& folder, const OnSkippedFolder& onSkipped = {});
// The same paths, each handed to onFile as it is found (the text is only
// valid during the call).
void ForEachFile(const std::string& folder, const std::function<void(const std::string&)>& onFile,
                 const OnSkippedFolder& onSkipped = {});

}  // namespace dirwalk

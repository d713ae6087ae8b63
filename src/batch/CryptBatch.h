#pragma once
// The widget-free half of the encrypt and decrypt batches: where each target
// lands, the one call per file into the cipher, the operation log "note.txt"
// and the account of the files that produced no target.

#include "BatchRun.h"
#include "DESUnit.h"
#include "SafeFile.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

namespace cryptbatch {

enum class Direction { Encrypt, Decrypt };

// Flat layout of the selected batches: every target lands directly in the
// target folder under the source's bare name.
QString FlatTargetPath(const QString& targetFolder, const QString& source);

// Tree layout: the first occurrence of the folder text in the source path
// (case-sensitive) becomes the target folder. A folder text that ends in "/"
// takes its separator with it, so one "/" is put back when the target folder
// has none; otherwise "/home/u/photos/a.jpg" would become "/tmp/enca.jpg".
QString TreeTargetPath(const QString& folderText, const QString& targetFolder, const QString& source);

// "note.txt" in the target folder, one line per handled file, UTF-8 without
// a BOM, CR LF. Made when missing as the batch starts, so a target folder
// inside the tree lists it as one of the tree's files; an earlier log is
// replaced (a link of that name too, never written through) only by Begin,
// once the batch has its files, so a batch that ends before keeps it as it
// was. Each line reaches the disk before the next file is handled, so a batch
// that ends early leaves an accurate log. Failures throw std::runtime_error
// with the message the user sees.
class OperationLog {
public:
    explicit OperationLog(const safefile::Folder& targetFolder);
    void Begin();
    // note (when given) says why the source got no target.
    void Write(Direction direction, const QString& source, const QString& target, const QString& note = {});
    void Close() { file_.Reset(); }
    QString Path() const { return path_; }
    // Whether name in folder is this log.
    bool Is(const safefile::Folder& folder, const std::string& name) const;

    // A control character in a path becomes U+FFFD, so every line is one line.
    static QByteArray Line(Direction direction, const QString& source, const QString& target,
                           const QString& note = {});

private:
    safefile::Folder folder_;
    safefile::Fd file_;
    safefile::FileId id_;
    QString path_;
};

// Where one batch writes: the folder the user chose, opened once (it may
// itself be a link), and the folders below it, opened part by part without
// following links, so a folder swapped for a link receives nothing.
class TargetTree {
public:
    // Throws std::runtime_error when the folder can't be opened.
    explicit TargetTree(const QString& targetFolder);
    const safefile::Folder& Root() const { return root_; }

    // The folder that holds target (a path below the chosen folder), made
    // with its missing parents. A link or file in the way gives nothing and
    // the reason in *why; a folder that can't be made throws
    // "创建文件夹发生错误，错误原因:" + the system's reason.
    std::optional<safefile::Folder> FolderFor(const QString& target, QString* why) const;

private:
    QString path_;
    safefile::Folder root_;
};

// One file through the cipher into target inside folder. The password goes
// in the ANSI code page of the locale (so it gives the key a Windows system
// of that language gives), the paths in the file-system encoding. A path the
// encoding can't express, or a target that is the batch's own log, is a file
// without a target, like any other the cipher reports.
DesFileResult CryptFile(Direction direction, safefile::Source& source, const safefile::Folder& folder,
                        const QString& target, const QString& password, const OperationLog& log,
                        const DesProgress& progress);

struct MissingTarget {
    QString source;
    QString reason;
};

// The box shown after a batch in which some files produced no target.
ListedBox MissingTargetsBox(const std::vector<MissingTarget>& missing);

// Why a password can't become a key text: it is empty ("密码为空值"), or it
// holds a character that the locale's code page can't express, which would
// silently turn into "?" and weaken the key. Nothing when it can.
std::optional<QString> PasswordRefusal(const QString& password);

enum class Layout {
    Flat,  // the selected batches: every target directly in the target folder
    Tree,  // the tree batches: the tree reproduced under the target folder
};

// The failures of a crypt batch, as batch::Failure::kind.
enum FailureKind {
    NoTarget = 0,      // the cipher wrote no target; reason says why
    StepRaised = 1,    // the file's step raised a failure; reason is its message
    FolderFailed = 2,  // the target's folder could not be created; reason is the whole message
};

struct CryptJob {
    Direction direction = Direction::Encrypt;
    Layout layout = Layout::Flat;
    QString password;
    QString targetFolder;
    QString folderText;  // tree layout: the folder text that each target replaces
    // The folder the sources are read below: the tree's, or the folder the
    // checked files' list shows; empty for files named one by one.
    QString sourceFolder;
};

// One batch. Creating it makes "note.txt" in the target folder when missing,
// before the caller lists a tree, so a log inside the tree is one of its
// files; Walk replaces it with the new log. The flat layout logs a file after
// its step, the tree layout before it and creates the target's folder first;
// in the flat layout a second source whose target this batch has already
// written gets none. Every file that fails goes to hooks.failed; a file
// without a target is still logged, and a file left out is not.
class CryptRun {
public:
    explicit CryptRun(CryptJob job);
    // False when hooks.failed ended the batch. Throws std::runtime_error when
    // the log can't be written.
    bool Walk(const batch::Entries& entries, const batch::Hooks& hooks);
    void Close() { log_.Close(); }
    const CryptJob& Job() const { return job_; }

private:
    bool Step(const QString& source, const batch::Hooks& hooks);
    std::optional<batch::Failure> Crypt(safefile::Source& in, const QString& source, const QString& target,
                                        const batch::Hooks& hooks);

    CryptJob job_;
    batch::Sources sources_;
    TargetTree targets_;
    OperationLog log_;
    QSet<QString> written_;  // flat layout: the targets this batch has written
};

}  // namespace cryptbatch

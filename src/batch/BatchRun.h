#pragma once
// What every batch that the window and the command-line program share walks,
// and the points where the caller follows it: the window moves its status
// line and bar and lets messages run there, the command line prints.

#include "Reach.h"
#include "folder_services.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

namespace batch {

// The files of a batch. The count is taken when the walk starts; entry i is
// read only when the walk reaches it, so a window's check mark changed
// meanwhile still counts. An entry without a path (unchecked, or no archive)
// is passed over, but the stop request is still asked after it.
struct Entries {
    qsizetype count = 0;
    std::function<std::optional<QString>(qsizetype index)> at;

    static Entries Of(const QStringList& paths)
    {
        return {paths.size(), [paths](qsizetype i) { return std::optional<QString>(paths.at(i)); }};
    }
};

// One file that failed. kind tells the failures of one batch apart where
// the window treats them differently; reason is the message the user sees.
struct Failure {
    QString file;
    QString reason;
    int kind = 0;
};

struct Hooks {
    // Before a file's step, with its index among the entries.
    std::function<void(const QString& file, qsizetype index)> starting;
    // After a file's step, whether it worked or not.
    std::function<void(const QString& file, qsizetype index)> done;
    // Inside a file's step: its bytes handled so far and its size. Must not throw.
    std::function<void(const QString& file, std::uint64_t handled, std::uint64_t size)> bytes;
    // A file that failed: true goes on with the next file, false ends the batch.
    std::function<bool(const Failure& failure)> failed;
    // Asked after every entry, handled or passed over: true ends the batch.
    std::function<bool()> stop;
    // A file or folder left out of a batch that reads its files, with the
    // reason the user sees: a FIFO, socket or device (never opened: opening a
    // FIFO waits for a writer forever), a link that leaves the named folder or
    // leads nowhere, a subfolder that can't be read or whose path is too long.
    std::function<void(const QString& file, const QString& reason)> leftOut;

    void Starting(const QString& file, qsizetype index) const
    {
        if (starting)
            starting(file, index);
    }
    void Done(const QString& file, qsizetype index) const
    {
        if (done)
            done(file, index);
    }
    bool GoOnAfter(const Failure& failure) const { return failed ? failed(failure) : true; }
    bool StopRequested() const { return stop && stop(); }
    void LeaveOut(const QString& file, const QString& reason) const
    {
        if (leftOut)
            leftOut(file, reason);
    }
    // The walk's hand-over of a subfolder it passed over, for GetAllFiles.
    SkippedFolder FolderSkipped() const
    {
        return [this](const QString& folder, const QString& reason) { LeaveOut(folder, reason); };
    }
};

// The reason the user sees for a file the batch leaves out.
QString SkipReason(reach::Skip why);

// Where a batch reads its files: below the folder the user named (for
// checked files, the folder the list shows), each reached from that folder's
// descriptor; or, for files named one by one on the command line, each as named.
class Sources {
public:
    Sources() = default;
    // Throws std::runtime_error when the folder can't be opened.
    explicit Sources(const QString& folder);
    const reach::Root& Root() const { return root_; }
    // The file opened for reading; nothing, after naming it to hooks.leftOut,
    // for a file the batch leaves out. Throws safefile::Error for any other failure.
    std::optional<safefile::Source> Open(const QString& file, const Hooks& hooks) const;
    // The same for a file of a folder already opened below the root.
    std::optional<safefile::Source> OpenIn(const safefile::Folder& folder, const QString& file,
                                           const Hooks& hooks) const;

private:
    static std::optional<safefile::Source> OpenWith(const reach::Root& root, const QString& file, const Hooks& hooks);

    reach::Root root_;
};

// Walks the entries in order. step(file, index) does one file and returns
// false when a failure ended the batch; Walk then returns false as well.
template <typename Step>
bool Walk(const Entries& entries, const Hooks& hooks, Step step)
{
    const qsizetype count = entries.count;
    for (qsizetype i = 0; i < count; ++i) {
        if (const std::optional<QString> file = entries.at(i)) {
            if (!step(*file, i))
                return false;
        }
        if (hooks.StopRequested())
            break;
    }
    return true;
}

}  // namespace batch

#pragma once
// What every batch that the window and the command-line program share walks,
// and the points where the caller follows it: the window moves its status
// line and bar and lets messages run there, the command line prints.

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
    // A FIFO, socket or device among the entries of a batch that reads its
    // files: it is never opened (opening a FIFO waits for a writer forever)
    // but left out of the work and named here.
    std::function<void(const QString& file)> leftOut;

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
    // True, after naming it, for an entry to leave out.
    bool LeavesOut(const QString& file) const
    {
        if (!IsSpecialFile(file))
            return false;
        if (leftOut)
            leftOut(file);
        return true;
    }
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

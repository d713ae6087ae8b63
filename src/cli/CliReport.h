#pragma once
// What velmora-cli tells its user: one self-rewriting progress line on
// standard error while that is a terminal, each handled file with -v, and
// one line per failure naming the file and the reason.

#include "BatchRun.h"
#include "ZipArchive.h"

#include <QString>
#include <chrono>
#include <cstdint>

namespace cli {

class Reporter {
public:
    explicit Reporter(bool verbose);
    ~Reporter();

    // How many files the batch has; 0 when it is not known beforehand.
    void SetTotal(qsizetype total) { total_ = total; }

    // Hooks that follow the batch. A failure is named and counted; with
    // goOnAfterFailure false it also ends the batch.
    batch::Hooks Hooks(bool goOnAfterFailure);
    // The archive facility's progress: a new file name is a new file.
    ZipProgress ArchiveProgress();
    // The last file the archive facility reported is done too.
    void EndArchive();

    void Failed(const QString& file, const QString& reason);
    // A line on standard error that names no file.
    void Error(const QString& message);
    // A line of the batch's own output on standard output (a dry run's plan).
    void Print(const QString& line);

    int Failures() const { return failures_; }
    // A stop request (Ctrl+C, SIGTERM or SIGHUP) asked so far.
    static bool StopRequested();
    static void CatchInterrupt();

private:
    void Handled(const QString& file);
    void Show(const QString& file, std::uint64_t handled, std::uint64_t size, bool force);
    void ClearLine();

    bool verbose_;
    bool progress_;  // standard error is a terminal
    bool shown_ = false;
    qsizetype total_ = 0;
    qsizetype done_ = 0;
    int failures_ = 0;
    QString current_;
    std::chrono::steady_clock::time_point lastShown_{};
};

}  // namespace cli

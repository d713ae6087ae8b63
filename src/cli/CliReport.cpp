#include "CliReport.h"

#include "folder_services.h"

#include <csignal>
#include <cstdio>
#include <iterator>
#include <unistd.h>

namespace cli {

namespace {

volatile std::sig_atomic_t g_stop = 0;

// Ctrl+C, a service stop (SIGTERM, as timeout and systemd send) and a lost
// ssh session (SIGHUP) all end a batch the same way.
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Which of them we catch: one ignored when we start (nohup, a background
// job) stays ignored.
bool g_caught[std::size(kStopSignals)] = {};

void OnInterrupt(int)
{
    // The first one ends the batch between two files, like the window's stop
    // button; a second one ends the program at once.
    g_stop = 1;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        if (g_caught[i])
            std::signal(kStopSignals[i], SIG_DFL);
}

void Err(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

QString Size(std::uint64_t bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

}  // namespace

Reporter::Reporter(bool verbose) : verbose_(verbose), progress_(isatty(STDERR_FILENO) != 0)
{
}

Reporter::~Reporter()
{
    ClearLine();
}

bool Reporter::StopRequested()
{
    return g_stop != 0;
}

void Reporter::CatchInterrupt()
{
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        struct sigaction now {};
        sigaction(kStopSignals[i], nullptr, &now);
        g_caught[i] = now.sa_handler != SIG_IGN;
        if (g_caught[i])
            std::signal(kStopSignals[i], OnInterrupt);
    }
}

batch::Hooks Reporter::Hooks(bool goOnAfterFailure)
{
    batch::Hooks hooks;
    hooks.starting = [this](const QString& file, qsizetype) { Show(file, 0, 0, true); };
    if (progress_) {
        hooks.bytes = [this](const QString& file, std::uint64_t handled, std::uint64_t size) {
            Show(file, handled, size, false);
        };
    }
    hooks.done = [this](const QString& file, qsizetype) { Handled(file); };
    hooks.failed = [this, goOnAfterFailure](const batch::Failure& f) {
        Failed(f.file, f.reason);
        return goOnAfterFailure;
    };
    // A FIFO, socket or device is never opened; the user learns which were
    // skipped, but the batch did what it could, so it is no failure. A link
    // that leaves the folder or leads nowhere, and a folder the walk passed
    // over, are files the user may have expected in the result: those fail.
    hooks.leftOut = [this](const QString& file, const QString& reason) {
        if (reason != SpecialFileReason()) {
            Failed(file, reason);
            return;
        }
        ClearLine();
        Err(QStringLiteral("velmora-cli: ") + file + QStringLiteral("：不是普通文件（管道、套接字或设备），未处理\n"));
    };
    hooks.stop = [] { return StopRequested(); };
    return hooks;
}

ZipProgress Reporter::ArchiveProgress()
{
    if (!progress_ && !verbose_)
        return {};  // nobody looks: the facility need not report at all
    return [this](ZipArchive*, const std::string& name, const ZipHeader& header, std::int64_t position) {
        const QString file = DecodePath(name);
        if (file != current_) {
            if (!current_.isEmpty())
                Handled(current_);
            current_ = file;
        }
        Show(file, static_cast<std::uint64_t>(position), header.UncompressedSize, false);
    };
}

void Reporter::EndArchive()
{
    if (!current_.isEmpty())
        Handled(current_);
    current_.clear();
}

void Reporter::Handled(const QString& file)
{
    ++done_;
    if (verbose_) {
        ClearLine();
        Err(file + QLatin1Char('\n'));
    }
    Show(file, 0, 0, false);
}

void Reporter::Show(const QString& file, std::uint64_t handled, std::uint64_t size, bool force)
{
    if (!progress_)
        return;
    // Rewriting the line for every chunk would cost more than the work.
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - lastShown_ < std::chrono::milliseconds(100))
        return;
    lastShown_ = now;
    QString line = total_ > 0 ? QStringLiteral("[%1/%2] ").arg(done_).arg(total_) : QStringLiteral("[%1] ").arg(done_);
    QString name = BareFileName(file);
    if (name.size() > 48)
        name = name.left(22) + QStringLiteral("…") + name.right(22);
    line += name;
    if (size > 0)
        line += QStringLiteral("  %1 / %2").arg(Size(handled), Size(size));
    Err(QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
    shown_ = true;
}

void Reporter::ClearLine()
{
    if (shown_) {
        Err(QStringLiteral("\r\x1b[K"));
        shown_ = false;
    }
}

void Reporter::Failed(const QString& file, const QString& reason)
{
    ++failures_;
    ClearLine();
    Err(QStringLiteral("velmora-cli: ") + file + QStringLiteral("：") + reason + QLatin1Char('\n'));
}

void Reporter::Error(const QString& message)
{
    ClearLine();
    Err(QStringLiteral("velmora-cli: ") + message + QLatin1Char('\n'));
}

void Reporter::Print(const QString& line)
{
    ClearLine();
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

}  // namespace cli

#pragma once
// Helpers the tests of velmora-cli share beside WindowTestUtil.h's runs: a
// run on a real pseudo-terminal, a run that stops itself at a chosen file, and a
// snapshot of a folder's files.
#include "TestUtil.h"
#include "WindowTestUtil.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace clitest {

using windowtest::Cli;
using windowtest::CliResult;
using windowtest::RunCli;

// Every file below folder with its bytes, by path relative to it.
inline QMap<QString, QByteArray> Snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(folder).relativeFilePath(path)] = testutil::ReadFile(path);
    }
    return files;
}

// The program and its arguments as execv wants them, built before a fork.
class Argv {
public:
    explicit Argv(const QStringList& args)
    {
        store_.push_back(Cli().toStdString());
        for (const QString& a : args)
            store_.push_back(a.toStdString());
        for (std::string& s : store_)
            argv_.push_back(s.data());
        argv_.push_back(nullptr);
    }
    char** Get() { return argv_.data(); }

private:
    std::vector<std::string> store_;
    std::vector<char*> argv_;
};

// The wait status as a number: the exit status, or minus the signal that ended it.
inline int Status(int wstatus)
{
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : WIFSIGNALED(wstatus) ? -WTERMSIG(wstatus) : -1000;
}

// velmora-cli on a new pseudo-terminal, as a user at a terminal runs it.
class Terminal {
public:
    explicit Terminal(const QStringList& args)
    {
        Argv argv(args);
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            execv(argv.Get()[0], argv.Get());
            _exit(127);
        }
    }
    ~Terminal()
    {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(master_);
    }
    pid_t Pid() const { return pid_; }
    // Reads what the terminal shows until it has shown text `count` times in all; false on a timeout or the end.
    bool ShowsWithin(const QByteArray& text, qsizetype count = 1, int ms = 10000)
    {
        char buf[512];
        while (shown.count(text) < count) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, ms) <= 0)
                return false;
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                return false;
            shown.append(buf, n);
        }
        return true;
    }
    void Type(const QByteArray& bytes) { (void)!write(master_, bytes.constData(), bytes.size()); }
    // The exit as Status() gives it, or nothing when it hasn't ended within ms.
    std::optional<int> EndsWithin(int ms)
    {
        for (int waited = 0; waited <= ms; waited += 20) {
            ShowsWithin("\x01never", 1, 0);  // keep the terminal drained
            int wstatus = 0;
            if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
                pid_ = -1;
                ShowsWithin("\x01never", 1, 50);  // what it wrote last
                return Status(wstatus);
            }
            usleep(20000);
        }
        return std::nullopt;
    }
    bool Echoes() const
    {
        termios t{};
        return tcgetattr(master_, &t) == 0 && (t.c_lflag & ECHO);
    }
    QByteArray shown;

private:
    pid_t pid_ = -1;
    int master_ = -1;
};

// Runs the command line on a terminal, answering each password prompt with
// the next line. What the terminal showed goes to *shown.
inline int RunOnTerminal(const QStringList& args, const QList<QByteArray>& answers, QByteArray* shown)
{
    Terminal t(args);
    const QByteArray prompt = QString::fromUtf8("密码：").toUtf8();
    for (qsizetype i = 0; i < answers.size() && t.ShowsWithin(prompt, i + 1); ++i)
        t.Type(answers[i] + "\n");
    const std::optional<int> status = t.EndsWithin(10000);
    *shown = t.shown;
    return status.value_or(-1);
}

// velmora-cli started with VELMORA_TEST_PAUSE=pauseAt: it stops itself once
// it has done that many files, so a test can act before it goes on.
// Standard error goes to errPath.
class Paused {
public:
    Paused(const QStringList& args, int pauseAt, const QString& errPath)
    {
        Argv argv(args);
        std::vector<std::string> envStore{"VELMORA_TEST_PAUSE=" + std::to_string(pauseAt)};
        for (char** e = environ; *e; ++e)
            envStore.emplace_back(*e);
        std::vector<char*> env;
        for (std::string& s : envStore)
            env.push_back(s.data());
        env.push_back(nullptr);
        const std::string err = errPath.toStdString();
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, STDERR_FILENO);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            execve(argv.Get()[0], argv.Get(), env.data());
            _exit(127);
        }
        int wstatus = 0;
        waitpid(pid_, &wstatus, WUNTRACED);
        stopped_ = WIFSTOPPED(wstatus);
        if (!stopped_)
            end_ = Status(wstatus);
    }
    ~Paused()
    {
        if (stopped_)
            Finish(SIGKILL);
    }
    // Whether it stopped where asked (and not ended before).
    bool Stopped() const { return stopped_; }
    // Sends sig (0: none), lets it go on and returns how it ended.
    int Finish(int sig = 0)
    {
        if (stopped_) {
            if (sig)
                kill(pid_, sig);
            kill(pid_, SIGCONT);
            int wstatus = 0;
            waitpid(pid_, &wstatus, 0);
            end_ = Status(wstatus);
            stopped_ = false;
        }
        return end_;
    }

private:
    pid_t pid_ = -1;
    bool stopped_ = false;
    int end_ = -1000;
};

}  // namespace clitest

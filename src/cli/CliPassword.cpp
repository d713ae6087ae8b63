#include "CliPassword.h"

#include "ErrnoText.h"
#include "folder_services.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <iterator>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

// A password is a short line; a longer one is refused unread, so a file
// without line ends (/dev/zero) can't keep the program reading forever.
constexpr std::size_t kMaxLine = 1024;

enum class Line { Read, Nothing, TooLong };

// One line without its line end, read up to its end or kMaxLine bytes.
Line ReadLine(int fd, std::string& line)
{
    line.clear();
    bool any = false;
    char c;
    // Room for a carriage return before the line feed.
    while (line.size() <= kMaxLine + 1) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        any = true;
        if (c == '\n')
            break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kMaxLine)
        return Line::TooLong;
    return any ? Line::Read : Line::Nothing;
}

const QString kTooLong = QStringLiteral("密码过长：一行最多 %1 字节").arg(kMaxLine);

// The terminal's settings while echo is off, for a signal that ends the
// program meanwhile: it puts them back first, as passwd and ssh do, so the
// shell is not left without echo.
termios g_saved{};
int g_terminal = -1;
const int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1,   SIGUSR2, SIGXCPU,
                              SIGXFSZ, SIGPROF, SIGABRT, SIGBUS,  SIGFPE,  SIGILL,  SIGSEGV, SIGSYS,  SIGTRAP};

void RestoreAndEnd(int sig)
{
    tcsetattr(g_terminal, TCSANOW, &g_saved);
    raise(sig);  // the handler was reset on entry: this ends the program as the signal would have
}

// Echo is off while the password is typed and restored afterwards, or by any
// signal that ends the program before.
class NoEcho {
public:
    explicit NoEcho(int fd) : fd_(fd)
    {
        if (tcgetattr(fd_, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        g_saved = saved_;
        g_terminal = fd_;
        struct sigaction restore {};
        restore.sa_handler = RestoreAndEnd;
        restore.sa_flags = SA_RESETHAND;
        sigfillset(&restore.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            sigaction(kEndingSignals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler != SIG_IGN)  // one ignored ends nothing
                sigaction(kEndingSignals[i], &restore, nullptr);
        }
        // What was typed ahead is kept: a script may answer before the prompt.
        active_ = tcsetattr(fd_, TCSADRAIN, &quiet) == 0;
    }
    ~NoEcho()
    {
        if (active_)
            tcsetattr(fd_, TCSADRAIN, &saved_);
        if (g_terminal >= 0)
            for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
                sigaction(kEndingSignals[i], &previous_[i], nullptr);
        g_terminal = -1;
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int fd_;
    termios saved_{};
    struct sigaction previous_[std::size(kEndingSignals)] {};
    bool active_ = false;
};

// The answer to a prompt; false with the message when it was too long (what
// else was typed is dropped, so it never reaches the shell as a command).
bool Prompted(const char* prompt, QString& answer, QString& error)
{
    NoEcho quiet(STDIN_FILENO);  // before the prompt, so no answer is ever echoed
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::string line;
    if (ReadLine(STDIN_FILENO, line) == Line::TooLong) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        error = kTooLong;
        return false;
    }
    answer = QString::fromStdString(line);
    return true;
}

// The first line of an open file or of standard input.
PasswordRead FirstLine(int fd)
{
    std::string line;
    if (ReadLine(fd, line) == Line::TooLong)
        return {{}, kTooLong};
    return {QString::fromStdString(line), {}};
}

}  // namespace

PasswordRead ReadPassword(const Options& options, bool confirm)
{
    if (options.password)
        return {*options.password, {}};
    if (options.passwordFile) {
        QFile file(*options.passwordFile);
        errno = 0;
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            // The system's cause in the words every other error uses, not Qt's English.
            const QString cause = errno ? QString::fromStdString(platform::ErrnoText(errno)) : file.errorString();
            return {{}, QStringLiteral("无法读取密码文件 %1：%2").arg(*options.passwordFile, cause)};
        }
        return FirstLine(file.handle());
    }
    if (!isatty(STDIN_FILENO))
        return FirstLine(STDIN_FILENO);
    PasswordRead first, second;
    if (!Prompted("密码：", first.password, first.error) || !confirm)
        return first;
    if (!Prompted("再次输入密码：", second.password, second.error))
        return second;
    if (second.password != first.password)
        return {{}, QStringLiteral("两次输入的密码不一致")};
    return first;
}

}  // namespace cli

#include "CliPassword.h"

#include "ErrnoText.h"
#include "folder_services.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

// One line without its line end; false when nothing could be read at all.
bool ReadLine(int fd, std::string& line)
{
    line.clear();
    bool any = false;
    char c;
    for (;;) {
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
    return any;
}

// Echo is off while the password is typed and restored afterwards.
class NoEcho {
public:
    explicit NoEcho(int fd) : fd_(fd)
    {
        if (tcgetattr(fd_, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        // What was typed ahead is kept: a script may answer before the prompt.
        active_ = tcsetattr(fd_, TCSADRAIN, &quiet) == 0;
    }
    ~NoEcho()
    {
        if (active_)
            tcsetattr(fd_, TCSADRAIN, &saved_);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

QString Prompted(const char* prompt)
{
    NoEcho quiet(STDIN_FILENO);  // before the prompt, so no answer is ever echoed
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::string line;
    ReadLine(STDIN_FILENO, line);
    return QString::fromStdString(line);
}

}  // namespace

PasswordRead ReadPassword(const Options& options, bool confirm)
{
    if (options.password)
        return {*options.password, {}};
    std::string line;
    if (options.passwordFile) {
        QFile file(*options.passwordFile);
        errno = 0;
        if (!file.open(QIODevice::ReadOnly)) {
            // The system's cause in the words every other error uses, not Qt's English.
            const QString cause = errno ? QString::fromStdString(platform::ErrnoText(errno)) : file.errorString();
            return {{}, QStringLiteral("无法读取密码文件 %1：%2").arg(*options.passwordFile, cause)};
        }
        QByteArray first = file.readLine();
        while (first.endsWith('\n') || first.endsWith('\r'))
            first.chop(1);
        return {QString::fromUtf8(first), {}};
    }
    if (!isatty(STDIN_FILENO)) {
        ReadLine(STDIN_FILENO, line);
        return {QString::fromStdString(line), {}};
    }
    const QString password = Prompted("密码：");
    if (confirm && Prompted("再次输入密码：") != password)
        return {{}, QStringLiteral("两次输入的密码不一致")};
    return {password, {}};
}

}  // namespace cli

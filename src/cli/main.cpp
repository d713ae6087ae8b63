// velmora-cli: the window's batches from the command line, for scripts, cron
// jobs and ssh sessions where no window can open.
#include "CliCommands.h"
#include "CliHelp.h"
#include "CliOptions.h"
#include "folder_services.h"

#include <QStringList>
#include <cstdio>

namespace {

void Write(std::FILE* to, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
}

int Usage(const QString& message)
{
    Write(stderr, QStringLiteral("velmora-cli: ") + message + QStringLiteral("\n请用 velmora-cli --help 查看用法。\n"));
    return cli::kNotStarted;
}

}  // namespace

int main(int argc, char** argv)
{
    // Arguments are names from the file system: decoded the way every path is.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << DecodePath(argv[i]);
    if (args.isEmpty())
        return Usage(QStringLiteral("缺少命令"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        Write(stdout, cli::ProgramHelp());
        return cli::kAllDone;
    }
    if (command == QLatin1String("--version")) {
        Write(stdout, cli::VersionText());
        return cli::kAllDone;
    }
    if (!cli::IsCommand(command))
        return Usage(QStringLiteral("未知命令 %1").arg(command));
    const cli::Parsed parsed = cli::Parse(command, args);
    if (!parsed.error.isEmpty())
        return Usage(parsed.error);
    if (parsed.options.help) {
        Write(stdout, cli::CommandHelp(command));
        return cli::kAllDone;
    }
    std::fflush(stdout);
    return cli::RunCommand(parsed.options);
}

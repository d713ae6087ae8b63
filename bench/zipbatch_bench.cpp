// What the window's progress reports cost on top of the ZIP facility: the
// folder compression and the folder extraction through the real window
// offscreen (every report announces or moves the bar and pumps), beside the
// facility called without a callback and beside zip -6 / unzip, on
//   small: 20,000 files of 0.5 to 2 KiB in 200 folders;
//   large: one 256 MiB file, half noise and half text.
//
//   zipbatch_bench [work-folder [small|large]]     (default: /tmp/velmora-zipbatch-bench, both)
#include "BenchTiming.h"
#include "Dialogs.h"
#include "ZipArchive.h"
#include "un_Main.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

namespace {


void Run(const QString& program, const QStringList& args, const QString& in = {})
{
    QProcess p;
    if (!in.isEmpty())
        p.setWorkingDirectory(in);
    p.start(program, args);
    p.waitForFinished(-1);
}

QByteArray Bytes(int size, unsigned seed, bool text)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = text ? static_cast<char>('a' + (seed >> 16) % 8) : static_cast<char>(seed >> 16);
    }
    return bytes;
}

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

void MakeTrees(const QString& work)
{
    if (QFile::exists(work + QStringLiteral("/trees.complete")))
        return;
    std::printf("creating the trees under %s ...\n", qPrintable(work));
    std::fflush(stdout);
    for (int d = 0; d < 200; ++d)
        for (int f = 0; f < 100; ++f)
            Write(work + QStringLiteral("/small/d%1/f%2.txt").arg(d).arg(f), Bytes(512 + (d * 100 + f) % 1536, d * 100 + f, true));
    QByteArray large = Bytes(128 << 20, 1, false) + Bytes(128 << 20, 2, true);
    Write(work + QStringLiteral("/large/big.bin"), large);
    Write(work + QStringLiteral("/trees.complete"), "");
}

void Row(const char* what, const Timing& t)
{
    std::printf("  %-34s %8.2f s wall %8.2f s cpu\n", what, t.wall, t.cpu);
}

void Compare(const QString& work, const QString& name)
{
    const QString tree = work + QLatin1Char('/') + name;
    const QString out = work + QStringLiteral("/out-") + name;
    std::printf("%s\n", qPrintable(name));

    ScriptedDialogs dialogs;
    Tfrm_main form(dialogs);
    form.show();  // the status line and the bar repaint as they would on screen
    {
        const QSignalBlocker quiet(form.edt_Folder);  // only the batch is timed, not a page load
        form.edt_Folder->setText(tree);
    }
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    dialogs.saveAnswers.push_back(out + QStringLiteral("/window"));
    Row("compress, window", Time(RUSAGE_SELF, [&] { form.btn_ZipFolder->click(); }));
    Row("compress, facility alone", Time(RUSAGE_SELF, [&] {
            ZipArchive::ZipDirectoryContents((out + QStringLiteral("/alone.zip")).toStdString(), tree.toStdString(),
                                             ZipMethod::Deflate, {});
        }));
    Row("compress, zip -6 -r -q", Time(RUSAGE_CHILDREN, [&] {
            Run(QStringLiteral("zip"), {QStringLiteral("-6rq"), out + QStringLiteral("/peer.zip"), QStringLiteral(".")}, tree);
        }));

    // The window extracts every archive of a folder holding just the one archive.
    const QString source = out + QStringLiteral("/source");
    QDir().mkpath(source);
    QFile::rename(out + QStringLiteral("/window.zip"), source + QStringLiteral("/window.zip"));
    {
        const QSignalBlocker quiet(form.edt_Folder_2);
        form.edt_Folder_2->setText(source);
    }
    dialogs.folderAnswers.push_back(out + QStringLiteral("/x-window"));
    Row("extract, window", Time(RUSAGE_SELF, [&] { form.btn_UnZipAllToSpecified->click(); }));
    Row("extract, facility alone", Time(RUSAGE_SELF, [&] {
            ZipArchive::ExtractZipFile((source + QStringLiteral("/window.zip")).toStdString(),
                                       (out + QStringLiteral("/x-alone")).toStdString(), {});
        }));
    Row("extract, unzip -q", Time(RUSAGE_CHILDREN, [&] {
            Run(QStringLiteral("unzip"), {QStringLiteral("-qo"), source + QStringLiteral("/window.zip"), QStringLiteral("-d"),
                                          out + QStringLiteral("/x-peer")});
        }));
    if (!dialogs.shown.empty() && dialogs.shown.back().kind != ShownBox::PickFolder)
        std::printf("  (a box was shown: %s)\n", qPrintable(dialogs.shown.back().text));
    QDir(out).removeRecursively();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/velmora-zipbatch-bench");
    MakeTrees(work);
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    for (const QString& name : {QStringLiteral("small"), QStringLiteral("large")})
        if (only.isEmpty() || only == name)
            Compare(work, name);
    return 0;
}

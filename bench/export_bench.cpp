// Times the whole-tree list export of a 100,000-file tree (1,000 folders of
// 100 files) through the real window offscreen, beside
//   find DIR -type f -printf '%p,%f,%s,%TY-%Tm-%Td\n'
// in the same run, each with TZ unset and with TZ set.
//
//   export_bench [work-folder] [zone]     (defaults: /tmp/velmora-export-bench, Europe/Berlin)
#include "BenchTiming.h"
#include "Dialogs.h"
#include "un_Main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>

namespace {


constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;

void MakeTree(const QString& tree)
{
    const QString done = tree + QStringLiteral(".complete");  // beside the tree, not in it
    if (QFile::exists(done))
        return;
    std::printf("creating %d files under %s ...\n", kFolders * kFilesPerFolder, qPrintable(tree));
    std::fflush(stdout);
    for (int d = 0; d < kFolders; ++d) {
        const QString folder = tree + QStringLiteral("/d%1").arg(d, 4, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            QFile file(folder + QStringLiteral("/file_%1.txt").arg(f, 2, 10, QLatin1Char('0')));
            if (file.open(QIODevice::WriteOnly))
                file.write(QByteArray(f, 'x'));
        }
    }
    QFile marker(done);
    marker.open(QIODevice::WriteOnly);
}

Timing FindSeconds(const QString& tree, const QString& out, const QString& zone)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (zone.isEmpty())
        env.remove(QStringLiteral("TZ"));
    else
        env.insert(QStringLiteral("TZ"), zone);
    QProcess find;
    find.setProcessEnvironment(env);
    find.setStandardOutputFile(out);
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    find.start(QStringLiteral("find"), {tree, QStringLiteral("-type"), QStringLiteral("f"), QStringLiteral("-printf"),
                                        QStringLiteral("%p,%f,%s,%TY-%Tm-%Td\\n")});
    find.waitForFinished(-1);
    return {timer.nsecsElapsed() / 1e9, CpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
}

Timing ExportSeconds(const QString& tree, const QString& out, qsizetype* lines)
{
    ScriptedDialogs dialogs;
    Tfrm_main form(dialogs);
    form.show();  // the status line and the bar repaint as they would on screen
    {
        const QSignalBlocker block(form.edt_Folder);  // no folder load: only the export is timed
        form.edt_Folder->setText(tree);
    }
    dialogs.saveAnswers.push_back(out);
    QCoreApplication::processEvents();
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    form.btn_OutAllFiles->click();
    const Timing timing{timer.nsecsElapsed() / 1e9, CpuSeconds(RUSAGE_SELF) - cpuBefore};
    QFile file(out + QStringLiteral(".csv"));
    file.open(QIODevice::ReadOnly);
    *lines = file.readAll().count("\r\n");
    return timing;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const char* savedZone = std::getenv("TZ");
    const QString zone = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("Europe/Berlin");
    ::unsetenv("TZ");
    ::tzset();
    QApplication app(argc, argv);
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/velmora-export-bench");
    const QString tree = work + QStringLiteral("/tree");
    MakeTree(tree);
    // Warm the directory cache so that neither side pays for the first walk.
    FindSeconds(tree, QStringLiteral("/dev/null"), zone);

    qsizetype lines = 0;
    const Timing findUnset = FindSeconds(tree, work + QStringLiteral("/find-unset.txt"), QString());
    const Timing exportUnset = ExportSeconds(tree, work + QStringLiteral("/export-unset"), &lines);
    ::setenv("TZ", qPrintable(zone), 1);
    ::tzset();
    const Timing findSet = FindSeconds(tree, work + QStringLiteral("/find-set.txt"), zone);
    qsizetype linesSet = 0;
    const Timing exportSet = ExportSeconds(tree, work + QStringLiteral("/export-set"), &linesSet);
    if (savedZone)
        ::setenv("TZ", savedZone, 1);

    std::printf("%-30s %21s %21s\n", "100,000 files, 1,000 folders", "TZ unset: wall / cpu", "TZ set: wall / cpu");
    std::printf("%-30s %9.3fs / %7.3fs %9.3fs / %7.3fs\n", "find -printf (peer)", findUnset.wall, findUnset.cpu,
                findSet.wall, findSet.cpu);
    std::printf("%-30s %9.3fs / %7.3fs %9.3fs / %7.3fs\n", "export through the window", exportUnset.wall,
                exportUnset.cpu, exportSet.wall, exportSet.cpu);
    std::printf("rows written (header included): %lld / %lld\n", static_cast<long long>(lines),
                static_cast<long long>(linesSet));
    return lines == kFolders * kFilesPerFolder + 1 ? 0 : 1;
}

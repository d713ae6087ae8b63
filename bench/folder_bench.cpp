// Times folder browsing on page 1 of the real window (offscreen): a folder of
// 20,000 files into the file list, the 1,000 subfolders of a 100,000-file
// tree into the subfolder list, and GetAllFiles of that tree, beside
// `find DIR -type f` run in the same process.
//
//   folder_bench [work-folder]      (default: /tmp/velmora-folder-bench)
#include "DirWalk.h"
#include "Dialogs.h"
#include "folder_services.h"
#include "un_Main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <cstdio>

namespace {

void MakeFiles(const QString& folder, int count)
{
    QDir().mkpath(folder);
    for (int f = 0; f < count; ++f) {
        QFile file(folder + QStringLiteral("/file_%1.txt").arg(f, 5, 10, QLatin1Char('0')));
        if (file.open(QIODevice::WriteOnly))
            file.write("x");
    }
}

void MakeTrees(const QString& work)
{
    const QString done = work + QStringLiteral("/.complete");
    if (QFile::exists(done))
        return;
    std::printf("creating the trees under %s ...\n", qPrintable(work));
    std::fflush(stdout);
    MakeFiles(work + QStringLiteral("/flat"), 20000);
    for (int d = 0; d < 1000; ++d)
        MakeFiles(work + QStringLiteral("/tree/g%1/d%2").arg(d / 100).arg(d, 4, 10, QLatin1Char('0')), 100);
    QFile marker(done);
    marker.open(QIODevice::WriteOnly);
}

double Seconds(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed() / 1e9;
}

double Best(int runs, const std::function<double()>& once)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, once());
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/velmora-folder-bench");
    MakeTrees(work);
    const QString flat = work + QStringLiteral("/flat");
    const QString tree = work + QStringLiteral("/tree");

    ScriptedDialogs dialogs;
    Tfrm_main w(dialogs);
    w.show();
    QCoreApplication::processEvents();

    int listed = 0;
    int subListed = 0;
    const double fileList = Best(3, [&] {
        return Seconds([&] {
            FillFileList(flat, w.CurrentFile, w.StopFlag, w.StaticText1, w.ProgressBar, w.Lst_FIles_1);
            listed = w.Lst_FIles_1->count();
        });
    });
    const double walk = Best(3, [&] { return Seconds([&] { dirwalk::SubFolderWalk(tree.toStdString()); }); });
    const double subFolders = Best(3, [&] {
        return Seconds([&] {
            FillSubDirectoryList(tree, w.CurrentFile, w.StopFlag, w.StaticText1, w.ProgressBar, w.lst_SubDirectory_1,
                                 dialogs, &w);
            subListed = w.lst_SubDirectory_1->count();
        });
    });
    // The whole reload of page 1 as the user starts it: typing the tree's folder.
    const double reload = Best(3, [&] {
        return Seconds([&] {
            w.edt_Folder->setText(QString());
            w.edt_Folder->setText(tree);
        });
    });
    qsizetype fileCount = 0;
    const double allFiles = Best(5, [&] { return Seconds([&] { fileCount = GetAllFiles(tree).size(); }); });
    const double find = Best(5, [&] {
        return Seconds([&] {
            QProcess p;
            p.setStandardOutputFile(QProcess::nullDevice());
            p.start(QStringLiteral("find"), {tree, QStringLiteral("-type"), QStringLiteral("f")});
            p.waitForFinished(-1);
        });
    });

    std::printf("file list, %d files:            %.3f s   (target < 1 s)\n", listed, fileList);
    std::printf("subfolder walk alone, %d folders: %.3f s\n", subListed, walk);
    std::printf("subfolder list incl. walk:        %.3f s   (after the walk %.3f s, target < 0.5 s)\n", subFolders,
                subFolders - walk);
    std::printf("reload of page 1 with the tree:   %.3f s\n", reload);
    std::printf("GetAllFiles, %lld files:        %.3f s\n", static_cast<long long>(fileCount), allFiles);
    std::printf("find -type f:                     %.3f s   (ratio %.2f, target <= 1.2)\n", find, allFiles / find);
    return 0;
}

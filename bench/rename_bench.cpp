// Renames every file of a one-folder tree of N files by the rule img[1][1]:
//   - through the real window (offscreen): rule dialog, renames, reload of page 1
//     (and, for the breakdown, one more reload of the renamed folder on its own);
//   - the bare renames of the same files through the rename unit, no window;
//   - velmora-cli rename --rule img[1][1] -r FOLDER, as a whole process, when
//     its path is given (its journal goes where the window's does);
//   - perl rename (File::Rename, Debian package "rename") doing the same renames.
// Each run starts from a fresh folder; the best and the median of the runs are printed.
//
//   rename_bench [files=10000] [runs=5] [velmora-cli]
//
// With RENAME_BENCH_ONLY=window only the window's batch runs, for a profiler:
//   RENAME_BENCH_ONLY=window valgrind --tool=callgrind \
//       --toggle-collect='Tfrm_main::btn_ChangeAllFileNameClick()' rename_bench 10000 1
//   RENAME_BENCH_ONLY=window strace -c rename_bench 10000 1
#include "Dialogs.h"
#include "FileRename.h"
#include "RuleLanguage.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QStringList MakeFolder(const QString& folder, int files)
{
    QStringList names;
    for (int i = 0; i < files; ++i) {
        const QString name = QStringLiteral("f%1.txt").arg(i, 5, 10, QLatin1Char('0'));
        QFile file(folder + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1)
            qFatal("cannot write %s", qPrintable(file.fileName()));
        names << name;
    }
    return names;
}

bool RenamedAsExpected(const QString& folder, int files)
{
    const QStringList names = QDir(folder).entryList(QDir::Files);
    if (names.size() != files)
        return false;
    for (int i = 1; i <= files; ++i)
        if (!QFile::exists(folder + QStringLiteral("/img%1.txt").arg(i)))
            return false;
    return true;
}

struct Figures {
    std::vector<double> seconds;
    void Add(double s) { seconds.push_back(s); }
    double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double Median() const
    {
        std::vector<double> s = seconds;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
};

void Check(bool& ok, bool holds, const char* what)
{
    if (!holds)
        std::fprintf(stderr, "check failed: %s\n", what);
    ok = ok && holds;
}

double Time(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Each batch journals its renames for an undo: into a folder of our own, not the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const QString cli = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();

    ScriptedDialogs boxes;
    Tfrm_main w(boxes);
    w.show();
    w.ruleDialogHook = [](Tfrm_Rule& d) {
        d.edt_prefix->setText(QStringLiteral("img[1][1]"));
        d.btn_Change->click();
    };
    const bool windowOnly = qEnvironmentVariable("RENAME_BENCH_ONLY") == QLatin1String("window");
    const bool havePerl = !windowOnly && QProcess::execute(QStringLiteral("sh"), {"-c", "command -v rename >/dev/null"}) == 0;

    Figures window, reload, bare, perl, byCli;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        {
            QTemporaryDir dir;
            MakeFolder(dir.path(), files);
            w.edt_Folder->setText(dir.path());  // the page lists the folder first, untimed
            window.Add(Time([&] { w.btn_ChangeAllFileName->click(); }));
            reload.Add(Time([&] { w.edt_FolderChange(); }));
            Check(ok, RenamedAsExpected(dir.path(), files), "window: files on disk");
            Check(ok, w.Lst_FIles_1->count() == files, "window: page 1 reloaded");
            Check(ok, boxes.shown.empty(), "window: no box shown");
            w.edt_Folder->setText(QString());
        }
        if (!windowOnly) {
            QTemporaryDir dir;
            const QStringList names = MakeFolder(dir.path(), files);
            const strRule rule{QStringLiteral("img"), QString(), 1, 1};
            bare.Add(Time([&] {
                for (int i = 0; i < names.size(); ++i) {
                    const QString path = dir.path() + QLatin1Char('/') + names[i];
                    if (RenameNoReplace(path, NumberedPath(path, rule, i)))
                        ok = false;
                }
            }));
            Check(ok, RenamedAsExpected(dir.path(), files), "bare: files on disk");
        }
        if (!cli.isEmpty() && !windowOnly) {
            QTemporaryDir dir;
            MakeFolder(dir.path(), files);
            QProcess p;
            byCli.Add(Time([&] {
                p.start(cli, {QStringLiteral("rename"), QStringLiteral("--rule"), QStringLiteral("img[1][1]"),
                              QStringLiteral("-r"), dir.path()});
                p.waitForFinished(-1);
            }));
            Check(ok, p.exitCode() == 0 && RenamedAsExpected(dir.path(), files), "velmora-cli: files on disk");
        }
        if (havePerl) {
            QTemporaryDir dir;
            const QStringList names = MakeFolder(dir.path(), files);
            QProcess p;
            p.setWorkingDirectory(dir.path());
            QStringList args{QStringLiteral("s/^.*(?=\\.txt$)/'img'.++$::n/e"), QStringLiteral("--")};
            args << names;
            perl.Add(Time([&] {
                p.start(QStringLiteral("rename"), args);
                p.waitForFinished(-1);
            }));
            Check(ok, p.exitCode() == 0 && RenamedAsExpected(dir.path(), files), "perl: files on disk");
        }
    }

    std::printf("whole-tree numbered rename of %d files in one folder, %d runs (seconds, best / median)\n", files,
                runs);
    std::printf("  window batch (dialog, renames, reload) %8.3f / %8.3f\n", window.Best(), window.Median());
    std::printf("  reload of page 1 alone (same folder)  %8.3f / %8.3f\n", reload.Best(), reload.Median());
    if (!bare.seconds.empty())
        std::printf("  bare renames, no window               %8.3f / %8.3f\n", bare.Best(), bare.Median());
    if (!byCli.seconds.empty())
        std::printf("  velmora-cli rename (whole process)    %8.3f / %8.3f\n", byCli.Best(), byCli.Median());
    if (havePerl)
        std::printf("  perl rename (File::Rename)            %8.3f / %8.3f\n", perl.Best(), perl.Median());
    else if (!windowOnly)
        std::printf("  perl rename: not installed, skipped\n");
    std::printf("  results checked: %s\n", ok ? "all files renamed as expected" : "MISMATCH");
    return ok ? 0 : 1;
}

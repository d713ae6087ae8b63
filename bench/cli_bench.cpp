// velmora-cli as a whole process beside the tool a script would otherwise
// call, and beside the window's batch on the same data, in one run:
//   encrypt  one 256 MiB file        vs openssl enc -des-ecb
//   zip -r   a copy of /usr/include  vs zip -r -6
//   unzip    that archive            vs unzip, bsdtar -x
//   rename   10,000 files            vs perl rename
// The window's batches run offscreen in this process, clicked like a user
// would, with the dialogs answered from a script.
//
//   cli_bench VELMORA_CLI [work-folder]      (default work folder: /dev/shm/velmora-cli-bench)
#include "BenchTiming.h"
#include "Dialogs.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>
#include <cstdio>
#include <functional>

namespace {

QString g_cli;

void Row(const char* what, const Timing& t)
{
    std::printf("  %-34s %8.2f s wall %8.2f s CPU\n", what, t.wall, t.cpu);
    std::fflush(stdout);
}

// A whole process, timed from start to exit; its CPU time is its own and its children's.
Timing Process(const QString& program, const QStringList& args, const QString& in = {})
{
    return Time(RUSAGE_CHILDREN, [&] {
        QProcess p;
        if (!in.isEmpty())
            p.setWorkingDirectory(in);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(program, args);
        p.waitForFinished(-1);
        if (p.exitCode() != 0)
            std::printf("  (%s exited with %d)\n", qPrintable(program), p.exitCode());
    });
}

void Shell(const QString& command)
{
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}

void Fresh(const QString& folder)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

struct Bench {
    QString work;
    ScriptedDialogs dialogs;
    Tfrm_main form{dialogs};

    QString At(const char* rel) const { return work + QLatin1Char('/') + QString::fromUtf8(rel); }
    static void SetText(QLineEdit* edit, const QString& text)
    {
        const QSignalBlocker quiet(edit);  // the batches read the text; no page load is timed
        edit->setText(text);
    }

    void Encrypt()
    {
        std::printf("encrypt one 256 MiB file\n");
        Fresh(At("des"));
        Shell(QStringLiteral("head -c 134217728 /dev/urandom > '%1'; yes 'plain text line of a log' | head -c 134217728 >> '%1'")
                  .arg(At("des/big.bin")));
        Fresh(At("des-out"));
        Row("velmora-cli encrypt", Process(g_cli, {"encrypt", "-t", At("des-out"), "-p", "secret", At("des/big.bin")}));
        Row("openssl enc -des-ecb", Process("openssl", {"enc", "-provider", "legacy", "-provider", "default", "-des-ecb",
                                                        "-K", "0011223344556677", "-nopad", "-in", At("des/big.bin"),
                                                        "-out", At("des-out/openssl.bin")}));
        form.edt_Folder->setText(At("des"));  // the checked list holds the one file
        form.edt_Password->setText("secret");
        dialogs.folderAnswers.push_back(At("des-out"));
        Row("window, encrypt selected", Time(RUSAGE_SELF, [&] { form.btn_EncryptSelectedFiles->click(); }));
        QDir(At("des")).removeRecursively();
        QDir(At("des-out")).removeRecursively();
    }

    void ZipAndUnzip()
    {
        std::printf("zip -r a copy of /usr/include, then extract it\n");
        Fresh(At("zip"));
        // Links are followed: a dangling link in the tree would end both compressions.
        Shell(QStringLiteral("cp -rL /usr/include '%1' 2>/dev/null").arg(At("zip/include")));
        Row("velmora-cli zip -r", Process(g_cli, {"zip", At("zip/cli.zip"), "-r", At("zip/include")}));
        Row("zip -r -6", Process("zip", {"-r", "-6", "-q", At("zip/info.zip"), "include"}, At("zip")));
        SetText(form.edt_Folder, At("zip/include"));
        dialogs.saveAnswers.push_back(At("zip/window"));
        Row("window, compress folder", Time(RUSAGE_SELF, [&] { form.btn_ZipFolder->click(); }));

        Fresh(At("unzip"));
        QFile::rename(At("zip/cli.zip"), At("unzip/a.zip"));
        QDir(At("zip")).removeRecursively();
        QDir().mkpath(At("x-cli"));
        Row("velmora-cli unzip -t", Process(g_cli, {"unzip", "-t", At("x-cli"), At("unzip/a.zip")}));
        Row("unzip", Process("unzip", {"-q", "-o", At("unzip/a.zip"), "-d", At("x-unzip")}));
        QDir().mkpath(At("x-bsdtar"));
        Row("bsdtar -x", Process("bsdtar", {"-x", "-f", At("unzip/a.zip"), "-C", At("x-bsdtar")}));
        QDir().mkpath(At("x-window"));
        SetText(form.edt_Folder_2, At("unzip"));
        dialogs.folderAnswers.push_back(At("x-window"));
        Row("window, extract folder to chosen", Time(RUSAGE_SELF, [&] { form.btn_UnZipAllToSpecified->click(); }));
        for (const char* f : {"unzip", "x-cli", "x-unzip", "x-bsdtar", "x-window"})
            QDir(At(f)).removeRecursively();
    }

    void Rename()
    {
        std::printf("rename 10,000 files\n");
        for (const char* f : {"r-cli", "r-perl", "r-window"}) {
            Fresh(At(f));
            Shell(QStringLiteral("cd '%1' && seq -f 'f%05g.txt' 0 9999 | xargs touch").arg(At(f)));
        }
        Row("velmora-cli rename --rule", Process(g_cli, {"rename", "--rule", "n[1][1]", "-r", At("r-cli")}));
        Row("perl rename", Process("sh", {"-c", "rename 's/^f/n/' f*.txt"}, At("r-perl")));
        SetText(form.edt_Folder, At("r-window"));
        form.ruleDialogHook = [](Tfrm_Rule& d) {
            d.show();
            d.edt_prefix->setText("n[1][1]");
            QTest::mouseClick(d.btn_Change, Qt::LeftButton);
        };
        Row("window, rename folder", Time(RUSAGE_SELF, [&] { form.btn_ChangeAllFileName->click(); }));
        for (const char* f : {"r-cli", "r-perl", "r-window"})
            QDir(At(f)).removeRecursively();
    }
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cli_bench VELMORA_CLI [work-folder]\n");
        return 2;
    }
    g_cli = QString::fromLocal8Bit(argv[1]);
    Bench bench;
    bench.work = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/dev/shm/velmora-cli-bench");
    Fresh(bench.work);
    // The rename journals of this run stay in the work folder.
    qputenv("XDG_STATE_HOME", (bench.work + QStringLiteral("/state")).toUtf8());
    bench.Encrypt();
    bench.ZipAndUnzip();
    bench.Rename();
    if (!bench.dialogs.shown.empty())
        std::printf("(last box: %s)\n", qPrintable(bench.dialogs.shown.back().text));
    QDir(bench.work).removeRecursively();
    return 0;
}

// Faults made real, and the file system checked afterwards: killed writers,
// a full disk (a tiny tmpfs, mounted as root), links at target paths and a
// folder swapped for a link during a batch, modes, durability, and targets
// that are their own source.
#include "ErrnoText.h"
#include "DESUnit.h"
#include "Dialogs.h"
#include "FileInfo.h"
#include "Pump.h"
#include "SafeFile.h"
#include "TestUtil.h"
#include "ZipArchive.h"
#include "un_Main.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testutil::Exists;
using testutil::Noise;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

std::string Enc(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// Every entry below folder, hidden ones included, with the bytes of files
// and the target of links: what a failed or killed writer must not change.
QMap<QString, QByteArray> Snapshot(const QString& folder)
{
    QMap<QString, QByteArray> state;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        state[path.mid(folder.size() + 1)] = info.isSymLink() ? "-> " + info.symLinkTarget().toUtf8()
                                             : info.isDir()   ? QByteArray("<dir>")
                                                              : ReadFile(path);
    }
    return state;
}

mode_t ModeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(Enc(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// A tmpfs of `bytes` at folder, so that writes there run out of space.
class SmallDisk {
public:
    SmallDisk(const QString& folder, int bytes) : folder_(folder)
    {
        QDir().mkpath(folder);
        const std::string size = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", Enc(folder).c_str(), "tmpfs", 0, size.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(Enc(folder_).c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

private:
    QString folder_;
    bool mounted_ = false;
};

class SafeWrites : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        w.show();
    }
    void TearDown() override { SetPumpHook({}); }

    QString At(const QString& rel) const { return tmp.path() + QLatin1Char('/') + rel; }
    static void Fill(QListWidget* list, const QStringList& paths)
    {
        list->clear();
        for (const QString& path : paths) {
            auto* item = new QListWidgetItem(path, list);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Checked);
        }
    }
    static void SetText(QLineEdit* edit, const QString& text)
    {
        const QSignalBlocker quiet(edit);
        edit->setText(text);
    }
    // Builds an archive with Info-ZIP, which keeps the files' modes.
    void InfoZip(const QString& archive, const QString& folder, const QString& members)
    {
        if (!testutil::HaveTool(QStringLiteral("zip")))
            GTEST_SKIP() << "Info-ZIP zip is missing";
        ASSERT_EQ(testutil::Run(QStringLiteral("cd '%1' && zip -q -X '%2' %3").arg(folder, archive, members)), 0);
    }

    void FillTheDisk();

    QTemporaryDir tmp;
    ScriptedDialogs dialogs;
    Tfrm_main w{dialogs};
};

// A writer killed in the middle of its file leaves no temporary file, and
// every real name keeps its old content. Each child stops inside its first
// progress report, so the kill always lands while the file is half written.
// This runs first: the children must not inherit a parent's worker threads.
TEST_F(SafeWrites, AKilledWriterLeavesNoTemporaryFile)
{
    const QString S = At("src"), T = At("out");
    WriteFile(S + "/big.bin", Noise(6 << 20, 1));
    ASSERT_TRUE(DesEncryptFile(Enc(S + "/big.bin"), Enc(S + "/big.enc"), "pw"));
    InfoZip(S + "/big.zip", S, "big.bin");
    for (const char* name : {"big.enc", "big.bin", "a.zip", "list.csv"})
        WriteFile(T + "/" + name, "old content");
    WriteFile(T + "/x/big.bin", "old content");

    const auto stop = [](int ready) {
        const char byte = 1;
        (void)!::write(ready, &byte, 1);
        ::pause();
    };
    const QList<QPair<const char*, std::function<void(int)>>> writers{
        {"encrypt", [&](int ready) { DesEncryptFile(Enc(S + "/big.bin"), Enc(T + "/big.enc"), "pw", [&](auto, auto) { stop(ready); }); }},
        {"decrypt", [&](int ready) { DesDecryptFile(Enc(S + "/big.enc"), Enc(T + "/big.bin"), "pw", [&](auto, auto) { stop(ready); }); }},
        {"compress", [&](int ready) {
             ZipArchive zip([&](ZipArchive*, const std::string&, const ZipHeader&, std::int64_t p) { if (p > 0) stop(ready); });
             zip.Open(Enc(T + "/a.zip"), ZipMode::Write);
             zip.Add(Enc(S + "/big.bin"));
         }},
        {"extract", [&](int ready) {
             ZipArchive::ExtractZipFile(Enc(S + "/big.zip"), Enc(T + "/x"),
                                        [&](ZipArchive*, const std::string&, const ZipHeader&, std::int64_t p) { if (p > (1 << 20)) stop(ready); });
         }},
        {"export", [&](int ready) {
             FileListWriter out(T + "/list.csv");
             for (int i = 0; i < 20000; ++i)
                 out.WriteLine(QStringLiteral("a row of the list that fills the buffer more than once"));
             stop(ready);
         }},
    };
    const auto before = Snapshot(T);
    for (const auto& [what, writer] : writers) {
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            writer(pipe[1]);
            _exit(3);  // reached only when the writer never reported
        }
        char byte = 0;
        const bool reported = ::read(pipe[0], &byte, 1) == 1;
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipe[0]);
        ::close(pipe[1]);
        EXPECT_TRUE(reported) << what;
        EXPECT_EQ(Snapshot(T), before) << what << ": a temporary file or a changed name is left";
    }
}

// A disk that fills part-way: each writer reports the system's reason once,
// keeps what the name held and leaves no temporary file; an extraction keeps
// the members extracted before the one that failed.
void SafeWrites::FillTheDisk()
{
    const QString D = At("disk");
    SmallDisk disk(D, 2 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    const QString noSpace = QString::fromStdString(platform::ErrnoText(ENOSPC));

    // Extraction: two small members land, the large one fails whole.
    const QString Z = At("z");
    WriteFile(Z + "/a.txt", "a");
    WriteFile(Z + "/b.txt", "b");
    WriteFile(Z + "/c.bin", Noise(5 << 20, 2));
    InfoZip(Z + "/m.zip", Z, "a.txt b.txt c.bin");
    WriteFile(D + "/c.bin", "earlier c");
    try {
        ZipArchive::ExtractZipFile(Enc(Z + "/m.zip"), Enc(D), {});
        ADD_FAILURE() << "the extraction filled the disk without a failure";
    } catch (const ZipError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(noSpace)) << e.what();
    }
    QMap<QString, QByteArray> expected{{"a.txt", "a"}, {"b.txt", "b"}, {"c.bin", "earlier c"}};
    EXPECT_EQ(Snapshot(D), expected);

    // Export: one error box naming the cause, the earlier list kept, no success.
    QDir(D).removeRecursively();
    WriteFile(D + "/list.csv", "earlier list");
    const QString L = At("many");
    for (int i = 0; i < 600; ++i)
        WriteFile(L + QStringLiteral("/%1_%2").arg(i).arg(QString(200, 'n')), "");
    WriteFile(D + "/filler", Noise((2 << 20) - (64 << 10), 3));
    SetText(w.edt_Folder, L);
    dialogs.saveAnswers = {D + "/list"};
    w.btn_OutAllFiles->click();
    const QStringList errors = dialogs.Texts(ShownBox::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(noSpace)) << errors[0].toStdString();
    EXPECT_TRUE(dialogs.Texts(ShownBox::Message).isEmpty());
    EXPECT_EQ(ReadFile(D + "/list.csv"), QByteArray("earlier list"));
    EXPECT_EQ(Snapshot(D).size(), 2);
}

TEST_F(SafeWrites, AFullDiskLeavesOldFilesAndNoTemporary)
{
    FillTheDisk();
}

// Where the file system has no unnamed files, the hidden temporary file is
// private while it is written, and neither a dropped write nor a full disk
// leaves it behind.
TEST_F(SafeWrites, ANamedTemporaryIsPrivateAndNeverLeftBehind)
{
    safefile::UseNamedTemporaries(true);
    const auto unnamedAgain = qScopeGuard([] { safefile::UseNamedTemporaries(false); });
    WriteFile(At("p/old.txt"), "old");
    {
        safefile::NewFile file(Enc(At("p/old.txt")));
        file.Write("new", 3);
        const QStringList hidden = QDir(At("p")).entryList({".vz*"}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(hidden.size(), 1);
        EXPECT_EQ(ModeOf(At("p/") + hidden[0]), mode_t{0600});
    }
    EXPECT_EQ(Snapshot(At("p")), (QMap<QString, QByteArray>{{"old.txt", "old"}}));
    FillTheDisk();
}

// Links at target paths are replaced, never written through, and a subfolder
// of a target that is a link (planted, or swapped in during the batch)
// receives nothing.
TEST_F(SafeWrites, LinksBelowTheTargetAreNeverFollowed)
{
    const QString S = At("src"), T = At("out"), O = At("outside");
    WriteFile(S + "/a.txt", "plain a");
    WriteFile(S + "/sub/f1.txt", "1");
    WriteFile(S + "/sub/f2.txt", "2");
    for (const char* victim : {"v1", "v2", "v3", "v4"})
        WriteFile(O + "/" + victim, "outside");
    QDir().mkpath(T);
    const QList<QPair<const char*, const char*>> links{
        {"a.txt", "v1"}, {"note.txt", "v2"}, {"list.csv", "v3"}, {"arc.zip", "v4"}};
    for (const auto& [name, victim] : links)
        ASSERT_TRUE(QFile::link(O + "/" + victim, T + "/" + name));

    w.edt_Password->setText("pw");
    Fill(w.Lst_FIles_1, {S + "/a.txt"});
    dialogs.folderAnswers = {T};
    w.btn_EncryptSelectedFiles->click();
    dialogs.saveAnswers = {T + "/arc"};
    w.btn_ZipSelected->click();
    SetText(w.edt_Folder, S);
    dialogs.saveAnswers = {T + "/list"};
    w.btn_OutAllFiles->click();
    for (const auto& [name, victim] : links) {
        EXPECT_FALSE(QFileInfo(T + "/" + name).isSymLink()) << name;
        EXPECT_TRUE(QFileInfo(T + "/" + name).isFile()) << name;
    }

    // The tree batch: sub planted as a link in one target, swapped for one
    // after the first file in the other.
    const QString planted = At("t1"), swapped = At("t2");
    ASSERT_TRUE(QDir().mkpath(planted) && QFile::link(O, planted + "/sub"));
    SetPumpHook([&] {
        if (QFileInfo(swapped + "/sub").isDir() && !QFileInfo(swapped + "/sub").isSymLink()) {
            QDir().rename(swapped + "/sub", swapped + "/moved");
            QFile::link(O, swapped + "/sub");
        }
    });
    for (const QString& target : {planted, swapped}) {
        QDir().mkpath(target);
        dialogs.folderAnswers = {target};
        w.btn_EncryptFolders->click();
    }
    SetPumpHook({});
    EXPECT_EQ(QDir(O).entryList(QDir::Files | QDir::Hidden), QStringList({"v1", "v2", "v3", "v4"}));
    for (const char* victim : {"v1", "v2", "v3", "v4"})
        EXPECT_EQ(ReadFile(O + "/" + victim), QByteArray("outside")) << victim;
    const QStringList missing = dialogs.Texts(ShownBox::Error);
    ASSERT_EQ(missing.size(), 2) << missing.join("|").toStdString();
    EXPECT_TRUE(missing[0].contains(S + "/sub/f1.txt") && missing[0].contains(S + "/sub/f2.txt"))
        << missing[0].toStdString();
    EXPECT_TRUE(missing[1].contains(S + "/sub/f2.txt"));
}

// Modes: a cipher copy takes its source's bits, an extracted member the
// stored bits under the umask and never set-id; a new archive or list 0666
// under the umask.
TEST_F(SafeWrites, ModesFollowTheSourceOrTheArchive)
{
    const mode_t mask = CurrentUmask();
    const QString S = At("src"), T = At("out");
    WriteFile(S + "/secret", "private words");
    WriteFile(S + "/tool", "#!/bin/sh\n");
    ::chmod(Enc(S + "/secret").c_str(), 0600);
    ::chmod(Enc(S + "/tool").c_str(), 04755);
    QDir().mkpath(T);
    ASSERT_TRUE(DesEncryptFile(Enc(S + "/secret"), Enc(T + "/secret.enc"), "pw"));
    ASSERT_TRUE(DesDecryptFile(Enc(T + "/secret.enc"), Enc(T + "/secret.dec"), "pw"));
    InfoZip(S + "/m.zip", S, "secret tool");
    ZipArchive::ExtractZipFile(Enc(S + "/m.zip"), Enc(T + "/x"), {});
    FileListWriter list(T + "/list.csv");
    list.Close();

    const QList<QPair<const char*, mode_t>> cases{{"secret.enc", 0600},
                                                  {"secret.dec", 0600},
                                                  {"x/secret", 0600 & ~mask},
                                                  {"x/tool", 0755 & ~mask},
                                                  {"list.csv", 0666 & ~mask}};
    for (const auto& [name, mode] : cases)
        EXPECT_EQ(ModeOf(T + "/" + name), mode) << name;
}

// Replacing a file waits for its data to reach the disk: fdatasync comes
// before the rename that puts an in-place encryption over its source.
TEST_F(SafeWrites, AReplacedFileIsSyncedBeforeItsNameMoves)
{
    const QString cli = qEnvironmentVariable("VELMORA_CLI");
    if (cli.isEmpty() || !testutil::HaveTool(QStringLiteral("strace")))
        GTEST_SKIP() << "strace or velmora-cli is missing";
    WriteFile(At("d/a.txt"), Noise(100000, 4));
    QString trace;
    ASSERT_EQ(testutil::Run(QStringLiteral("strace -f -e trace=fdatasync,fsync,linkat,rename,renameat,renameat2 -o '%1' "
                                           "'%2' encrypt -t '%3' -p pw '%3/a.txt' >/dev/null 2>&1")
                                .arg(At("trace"), cli, At("d"))),
              0);
    trace = QString::fromUtf8(ReadFile(At("trace")));
    const qsizetype sync = trace.indexOf(QRegularExpression("f(data)?sync\\("));
    const qsizetype rename = trace.indexOf(QRegularExpression("rename(at2?)?\\(.*a\\.txt\""));
    // The hidden name that is renamed over the old file exists only after the sync.
    const qsizetype hiddenLink = trace.indexOf(QRegularExpression("linkat\\(.*\"\\.vz[^\"]*\".*\\) = 0"));
    ASSERT_GE(rename, 0) << trace.toStdString();
    EXPECT_TRUE(sync >= 0 && sync < rename) << trace.toStdString();
    EXPECT_TRUE(sync >= 0 && (hiddenLink < 0 || sync < hiddenLink)) << trace.toStdString();
}

// Targets that are their own source: the batch's own log is never replaced
// by a target; a wrong password keeps the only ciphertext; an archive never
// replaces itself.
TEST_F(SafeWrites, ATargetNeverDestroysItsOwnSource)
{
    const QString S = At("src");
    WriteFile(S + "/a.txt", "some plain text");
    w.edt_Password->setText("pw");
    SetText(w.edt_Folder, S);
    dialogs.folderAnswers = {S};
    w.btn_EncryptFolders->click();
    const QByteArray log = ReadFile(S + "/note.txt");
    EXPECT_TRUE(log.startsWith("源文件:" + (S + "/a.txt").toUtf8()) && log.count("\r\n") == 2) << log.toStdString();
    ASSERT_EQ(dialogs.Texts(ShownBox::Error).size(), 1);
    EXPECT_TRUE(dialogs.Texts(ShownBox::Error)[0].contains(S + "/note.txt"));

    const QByteArray cipher = ReadFile(S + "/a.txt");
    w.edt_Password_2->setText("wrong");
    Fill(w.Lst_FIles_2, {S + "/a.txt"});
    dialogs.folderAnswers = {S};
    w.btn_DECryptSelected->click();
    EXPECT_EQ(ReadFile(S + "/a.txt"), cipher);
    EXPECT_TRUE(dialogs.Texts(ShownBox::Error).last().contains(QStringLiteral("密码可能不正确，已保留加密文件")));
    w.edt_Password_2->setText("pw");
    dialogs.folderAnswers = {S};
    w.btn_DECryptSelected->click();
    EXPECT_EQ(ReadFile(S + "/a.txt"), QByteArray("some plain text"));

    const QString Z = At("z");
    WriteFile(Z + "/in/self.zip", "inner");
    WriteFile(Z + "/in/b.txt", "b");
    InfoZip(Z + "/self.zip", Z + "/in", "b.txt self.zip");
    const QByteArray archive = ReadFile(Z + "/self.zip");
    EXPECT_THROW(ZipArchive::ExtractZipFile(Enc(Z + "/self.zip"), Enc(Z), {}), ZipError);
    EXPECT_EQ(ReadFile(Z + "/self.zip"), archive);
    EXPECT_FALSE(Exists(Z + "/b.txt"));
}

}  // namespace

// The folder services with real widgets offscreen and real trees on disk.
#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "TestUtil.h"
#include "folder_services.h"
#include "un_Waiting.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class FolderServices : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path();
    }
    void TearDown() override { SetPumpHook({}); }
    void File(const QString& rel) { testutil::WriteFile(root + "/" + rel, "x"); }
    QString P(const QString& rel) const { return root + "/" + rel; }

    static QStringList Items(const QListWidget& list)
    {
        QStringList items;
        for (int i = 0; i < list.count(); ++i)
            items << list.item(i)->text();
        return items;
    }
    static int Checked(const QListWidget& list)
    {
        int n = 0;
        for (int i = 0; i < list.count(); ++i)
            n += list.item(i)->checkState() == Qt::Checked;
        return n;
    }

    QTemporaryDir dir;
    QString root;
    QLabel status;
    TProgressBar progress;
    QListWidget list;
    ScriptedDialogs dialogs;
    std::int32_t stop = 0;
};

}  // namespace

TEST_F(FolderServices, FillFileListAddsFilesInOrderAllCheckedWithStatusAndProgress)
{
    File("b.txt");
    File("A.txt");
    File(".hidden");
    File("sub/inner.txt");
    QStringList seen;
    QList<qint64> positions;
    SetPumpHook([&] {
        seen << status.text();
        positions << progress.Position();
    });
    FillFileList(root, QString(), stop, &status, &progress, &list);

    EXPECT_EQ(Items(list), (QStringList{P(".hidden"), P("A.txt"), P("b.txt")}));
    EXPECT_EQ(Checked(list), 3);
    EXPECT_EQ(seen, (QStringList{"添加目录:" + P(".hidden"), "添加目录:" + P("A.txt"), "添加目录:" + P("b.txt")}));
    EXPECT_EQ(positions, (QList<qint64>{33, 66, 100}));
    EXPECT_EQ(status.text(), QStringLiteral("目录添加完成"));
}

TEST_F(FolderServices, FirstEntryEqualToTheMarkerMovesNeitherStatusNorProgress)
{
    File("a");
    File("b");
    progress.SetPosition(7);
    status.setText(QStringLiteral("before"));
    QStringList seen;
    QList<qint64> positions;
    SetPumpHook([&] {
        seen << status.text();
        positions << progress.Position();
    });
    FillFileList(root, P("a"), stop, &status, &progress, &list);
    EXPECT_EQ(seen, (QStringList{"before", "添加目录:" + P("b")}));
    EXPECT_EQ(positions, (QList<qint64>{7, 100}));
}

TEST_F(FolderServices, StopDuringListingKeepsTheFilesSoFarAllChecked)
{
    for (int i = 0; i < 10; ++i)
        File(QStringLiteral("f%1").arg(i));
    int pumps = 0;
    SetPumpHook([&] {
        if (++pumps == 3)
            stop = -1;
    });
    FillFileList(root, QString(), stop, &status, &progress, &list);
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(Checked(list), 3);
    EXPECT_EQ(status.text(), QStringLiteral("目录添加完成"));
}

TEST_F(FolderServices, EmptyFolderLeavesListEmptyAndProgressWhereItWas)
{
    progress.SetPosition(42);
    FillFileList(root, QString(), stop, &status, &progress, &list);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(progress.Position(), 42);
    EXPECT_EQ(status.text(), QStringLiteral("目录添加完成"));
}

TEST_F(FolderServices, BadFolderTextsFailAndLeaveTheListEmpty)
{
    const QString unencodable = root + QChar(0xD800);  // a lone surrogate
    const std::pair<QString, const char*> cases[] = {
        {P("missing"), "The specified path was not found"},
        {QStringLiteral("  "), "Invalid characters in path"},
        {unencodable, "The path format is not supported"},
        {root + "/" + QString(300, QLatin1Char('x')), "The specified path is too long"},
    };
    for (const auto& [folder, message] : cases) {
        list.addItem(QStringLiteral("old"));
        try {
            FillFileList(folder, QString(), stop, &status, &progress, &list);
            ADD_FAILURE() << "no failure for " << folder.toStdString();
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), message);
        }
        EXPECT_EQ(list.count(), 0);
    }
}

TEST_F(FolderServices, SubDirectoryListHoldsTheWholeWalkAndEndsBothThreads)
{
    File("A/X/x1");
    File("B/b1");
    QDir().mkpath(P("A/Y"));
    QStringList seen;
    SetPumpHook([&] { seen << status.text(); });
    FillSubDirectoryList(root, QString(), stop, &status, &progress, &list, dialogs, nullptr);

    EXPECT_EQ(Items(list), (QStringList{P("A"), P("A/X"), P("A/Y"), P("B")}));
    EXPECT_EQ(seen, (QStringList{"添加目录:" + P("A"), "添加目录:" + P("A/X"), "添加目录:" + P("A/Y"),
                                 "添加目录:" + P("B")}));
    EXPECT_EQ(progress.Position(), 100);
    EXPECT_EQ(status.text(), QStringLiteral("目录添加完成"));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(AllSubDirectories.size(), 4);
    EXPECT_TRUE(LoadFinished);
}

TEST_F(FolderServices, StopSetBeforeAddingStillAddsTheFirstSubfolder)
{
    QDir().mkpath(P("one"));
    QDir().mkpath(P("two"));
    stop = -1;
    FillSubDirectoryList(root, QString(), stop, &status, &progress, &list, dialogs, nullptr);
    EXPECT_EQ(Items(list), (QStringList{P("one")}));
    EXPECT_EQ(status.text(), QStringLiteral("目录添加完成"));
}

TEST_F(FolderServices, WalkThatFailsInsideTheLoaderStillEndsTheWaitAndReportsOnce)
{
    // The folder vanished after its files were listed: the loader's walk fails.
    FillSubDirectoryList(P("gone"), QString(), stop, &status, &progress, &list, dialogs, nullptr);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, ApplicationTitle());
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("The specified path was not found"));
    EXPECT_EQ(list.count(), 0);
    // The waiting text is not left animating: its thread wrote its last text and ended.
    QCoreApplication::processEvents();
    EXPECT_EQ(status.text(), QStringLiteral("停止加载"));
}

TEST_F(FolderServices, TwoLoadsInARowEachStartFreshAndReleaseTheirThreads)
{
    File("A/a");
    FillSubDirectoryList(root, QString(), stop, &status, &progress, &list, dialogs, nullptr);
    QDir().mkpath(P("B"));
    FillSubDirectoryList(root, QString(), stop, &status, &progress, &list, dialogs, nullptr);
    EXPECT_EQ(Items(list), (QStringList{P("A"), P("B")}));
    EXPECT_EQ(status.text(), QStringLiteral("目录添加完成"));
    // No thread object of a finished load is left behind as a child of anything.
    EXPECT_TRUE(status.findChildren<QThread*>().isEmpty());
}

TEST_F(FolderServices, WaitingTextCyclesThroughNineDotsAndEndsWithStopText)
{
    TWaitingThread waiter;
    waiter.ST = &status;
    QStringList samples;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (samples.isEmpty() || samples.back() != status.text())
            samples << status.text();
    });
    sampler.start(5);
    waiter.start();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    waiter.requestInterruption();
    while (!waiter.wait(5))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    sampler.stop();

    const QString base = QStringLiteral("正在加载中");
    ASSERT_GE(samples.size(), 11);
    EXPECT_EQ(status.text(), QStringLiteral("停止加载"));
    // From the first one-dot text on: 1..9 dots, then the bare text again.
    const int start = samples.indexOf(base + ".");
    ASSERT_GE(start, 0);
    for (int k = 0; k < 10 && start + k < samples.size() - 1; ++k)
        EXPECT_EQ(samples[start + k], k < 9 ? base + QString(k + 1, QLatin1Char('.')) : base);
}

TEST_F(FolderServices, GetAllFilesListsTheTopFolderThenEachSubfolderInWalkOrder)
{
    File("r1");
    File("A/a1");
    File("A/X/x1");
    File("B/b1");
    EXPECT_EQ(GetAllFiles(root), (QStringList{P("r1"), P("A/a1"), P("A/X/x1"), P("B/b1")}));
    EXPECT_THROW(GetAllFiles(P("missing")), std::runtime_error);
}

TEST(PathHelpers, NamesExtensionsAndFolders)
{
    EXPECT_EQ(GetNameWithoutExt("report.final.zip"), "report.final");
    EXPECT_EQ(GetNameWithoutExt("archive.zip"), "archive");
    EXPECT_EQ(GetNameWithoutExt("README"), "README");
    EXPECT_EQ(BareFileName("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(FolderPart("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(JoinPath("/a/", "x"), "/a/x");
    EXPECT_EQ(JoinPath("/a", "x"), "/a/x");
    // Backslash and colon are ordinary name characters here.
    EXPECT_EQ(BareFileName("/a/b\\c:d"), "b\\c:d");
}

TEST(ProgressBarWrapper, ClampsScalesAndShowsAnEmptyBarForZero)
{
    TProgressBar bar;
    bar.SetMax(0);
    bar.SetPosition(5);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_GT(bar.maximum(), 0);  // not the busy animation
    bar.SetMax(10);
    bar.SetPosition(25);
    EXPECT_EQ(bar.value(), bar.maximum());
    const std::int64_t big = 6LL << 30;  // 6 GiB
    bar.SetMax(big);
    bar.SetPosition(big / 2);
    EXPECT_LE(bar.maximum(), std::numeric_limits<int>::max());
    EXPECT_NEAR(double(bar.value()) / bar.maximum(), 0.5, 1e-6);
    bar.SetPosition(big);
    EXPECT_EQ(bar.value(), bar.maximum());
}

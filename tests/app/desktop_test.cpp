// The window among the desktop's programs, offscreen: what a command-line
// argument opens, and the lists' context menu with what each entry does.
#include "Dialogs.h"
#include "Pump.h"
#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "un_Main.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

using windowtest::MenuEntry;
using windowtest::RightClick;

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

class Desktop : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScriptedDialogs boxes;
    Tfrm_main w{boxes};
    std::vector<QUrl> opened;

    void SetUp() override
    {
        for (const char* rel : {"a.txt", "b.zip", "c.zip", "sub/d.txt"})
            testutil::WriteFile(P(rel), rel);
        w.openUrlHook = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
        w.show();
    }
    void TearDown() override { SetPumpHook({}); }
    QString P(const char* rel) const { return dir.filePath(U(rel)); }
    static QStringList Checked(const QListWidget* list)
    {
        QStringList paths;
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->checkState() == Qt::Checked)
                paths << list->item(i)->text();
        return paths;
    }
};

TEST_F(Desktop, TheFirstArgumentOpensInThePageThatFitsIt)
{
    struct Case {
        const char* what;
        QStringList args;
        QString folder1, folder2;  // what the folder edits show
        int page;
        QStringList checked1, checked2;
        int errorBoxes;
    };
    const QString missing = P("missing");
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(P("sub"));
    const Case cases[] = {
        {"a folder", {dir.path(), P("a.txt")}, dir.path(), dir.path(), 0,
         {P("a.txt"), P("b.zip"), P("c.zip")}, {P("a.txt"), P("b.zip"), P("c.zip")}, 0},
        {"a folder as a file: URL with a trailing /", {QUrl::fromLocalFile(dir.path() + "/").toString()}, dir.path(),
         dir.path(), 0, {P("a.txt"), P("b.zip"), P("c.zip")}, {P("a.txt"), P("b.zip"), P("c.zip")}, 0},
        {"an archive", {P("c.zip")}, "", dir.path(), 1, {}, {P("c.zip")}, 0},
        {"another file", {P("a.txt")}, dir.path(), "", 0, {P("a.txt")}, {}, 0},
        {"a name that names nothing", {missing}, missing, missing, 0, {}, {}, 2},
        {"a relative folder", {"../sub/."}, P("sub"), P("sub"), 0, {P("sub/d.txt")}, {P("sub/d.txt")}, 0},
        {"nothing", {}, "", "", 0, {}, {}, 0},
    };
    for (const Case& c : cases) {
        ScriptedDialogs shown;
        Tfrm_main fresh{shown};
        fresh.show();
        fresh.OpenStartArguments(c.args);
        EXPECT_EQ(fresh.edt_Folder->text(), c.folder1) << c.what;
        EXPECT_EQ(fresh.edt_Folder_2->text(), c.folder2) << c.what;
        EXPECT_EQ(fresh.PageControl1->currentIndex(), c.page) << c.what;
        EXPECT_EQ(Checked(fresh.Lst_FIles_1), c.checked1) << c.what;
        EXPECT_EQ(Checked(fresh.Lst_FIles_2), c.checked2) << c.what;
        EXPECT_EQ(shown.Texts(ShownBox::Message).size(), c.errorBoxes) << c.what;
    }
    QDir::setCurrent(cwd);
}

// Right-clicked entry by entry, list by list; every entry greyed while a batch runs.
TEST_F(Desktop, TheMenuOffersWhatTheClickedPlaceAllows)
{
    w.edt_Folder->setText(dir.path());
    w.edt_Folder_2->setText(dir.path());
    const auto menu = [](bool onEntry, bool undo, bool withUndo) {
        QList<MenuEntry> entries{{U("打开"), onEntry}, {U("打开所在文件夹"), onEntry}, {U("复制路径"), onEntry}};
        if (withUndo)
            entries.append({U("撤销上次批量改名"), undo});
        return entries;
    };
    for (QListWidget* list : {w.Lst_FIles_1, w.Lst_FIles_2, w.lst_SubDirectory_1, w.lst_SubDirectory_2}) {
        const bool page1Files = list == w.Lst_FIles_1;
        const std::string name = list->objectName().toStdString();
        EXPECT_EQ(RightClick(w, list, 0), menu(true, false, page1Files)) << name;
        EXPECT_EQ(RightClick(w, list, -1), menu(false, false, page1Files)) << name;
    }
    QList<MenuEntry> during;
    SetPumpHook([&] {
        if (during.isEmpty())
            during = RightClick(w, w.Lst_FIles_2, 0);
    });
    w.btn_Refresh->click();
    SetPumpHook({});
    EXPECT_EQ(during, menu(false, false, false));
}

TEST_F(Desktop, OpenAndShowInFolderHandTheDesktopTheRightPlace)
{
    testutil::WriteFile(P("sub/名 #1%.txt"), "x");
    w.edt_Folder->setText(dir.path());
    RightClick(w, w.Lst_FIles_1, 0, U("打开"));
    RightClick(w, w.Lst_FIles_1, 0, U("打开所在文件夹"));
    RightClick(w, w.lst_SubDirectory_1, 0, U("打开"));
    RightClick(w, w.lst_SubDirectory_1, 0, U("打开所在文件夹"));
    w.lst_SubDirectory_1->setCurrentRow(0);
    w.lst_SubDirectory_1Click();
    RightClick(w, w.Lst_FIles_1, 1, U("打开"));
    const QByteArray root = QUrl::fromLocalFile(dir.path()).toEncoded();
    ASSERT_EQ(opened.size(), 5u);
    EXPECT_EQ(opened[0].toEncoded(), root + "/a.txt");
    EXPECT_EQ(opened[1].toEncoded(), root);
    EXPECT_EQ(opened[2].toEncoded(), root + "/sub");
    EXPECT_EQ(opened[3].toEncoded(), root);
    EXPECT_EQ(opened[4].toLocalFile(), P("sub/名 #1%.txt"));

    w.openUrlHook = [](const QUrl&) { return false; };
    RightClick(w, w.Lst_FIles_1, 0, U("打开"));
    RightClick(w, w.Lst_FIles_1, 0, U("打开所在文件夹"));  // the box names the folder that failed
    EXPECT_EQ(boxes.Texts(ShownBox::Error), (QStringList{U("无法打开：") + P("sub/d.txt"), U("无法打开：") + P("sub")}));
}

TEST_F(Desktop, CopyPathPutsEverySelectedEntryOnALineOfItsOwn)
{
    w.edt_Folder->setText(dir.path());
    w.Lst_FIles_1->item(0)->setSelected(true);
    w.Lst_FIles_1->item(2)->setSelected(true);
    RightClick(w, w.Lst_FIles_1, 2, U("复制路径"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), P("a.txt") + "\n" + P("c.zip"));
    RightClick(w, w.lst_SubDirectory_1, 0, U("复制路径"));  // nothing selected there
    EXPECT_EQ(QGuiApplication::clipboard()->text(), P("sub"));
}

}  // namespace

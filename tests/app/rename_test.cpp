// Both rename batches end to end on the real window, offscreen, on temporary
// trees: the rule dialog answered through the window's dialog seam, files
// checked on disk byte for byte.
#include "CliTestUtil.h"
#include "ErrnoText.h"
#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "RenameJournal.h"
#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QAction>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <algorithm>
#include <gtest/gtest.h>

using testutil::ReadFile;
using testutil::RelativeFiles;
using testutil::WriteFile;

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

QString RenameFailure(const QString& path, int error)
{
    return U("更改文件：") + path + U("的名称发生错误，错误原因:") + QString::fromStdString(platform::ErrnoText(error))
           + ".";
}

class RenameBatch : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScriptedDialogs boxes;
    Tfrm_main w{boxes};
    QPointer<Tfrm_Rule> lastDialog;

    void SetUp() override
    {
        QFile::remove(RenameJournalPath());  // each test starts with nothing to undo
        w.show();
    }
    void TearDown() override { SetPumpHook({}); }

    QString P(const char* rel) const { return dir.filePath(U(rel)); }
    // Each file holds its own original name, so a move shows in the bytes.
    void Files(std::initializer_list<const char*> rels)
    {
        for (const char* rel : rels)
            WriteFile(P(rel), rel);
    }
    void OpenFolder(const QString& folder) { w.edt_Folder->setText(folder); }

    void Answer(std::function<void(Tfrm_Rule&)> fill)
    {
        w.ruleDialogHook = [this, fill](Tfrm_Rule& d) {
            lastDialog = &d;
            fill(d);
        };
    }
    void Numbered(const char* rule)
    {
        Answer([rule](Tfrm_Rule& d) {
            d.edt_prefix->setText(U(rule));
            QTest::mouseClick(d.btn_Change, Qt::LeftButton);
        });
    }
    void Replace(const char* oldstr, const char* replacestr, bool all)
    {
        Answer([=](Tfrm_Rule& d) {
            d.PageControl1->setCurrentIndex(1);
            d.edt_old->setText(U(oldstr));
            d.edt_Replace->setText(U(replacestr));
            (all ? d.rb_All : d.rb_First)->setChecked(true);
            d.btn_Replace->click();
        });
    }
    QStringList ListedFiles() const
    {
        QStringList names;
        for (int i = 0; i < w.Lst_FIles_1->count(); ++i)
            names << w.Lst_FIles_1->item(i)->text();
        return names;
    }
    // Exactly these rows checked (a load checks every file).
    void CheckRows(std::initializer_list<int> rows)
    {
        for (int i = 0; i < w.Lst_FIles_1->count(); ++i)
            w.Lst_FIles_1->item(i)->setCheckState(std::find(rows.begin(), rows.end(), i) != rows.end() ? Qt::Checked
                                                                                                        : Qt::Unchecked);
    }
    void ExpectBatchEnded()
    {
        EXPECT_TRUE(lastDialog.isNull()) << "the rule dialog was not freed";
        EXPECT_TRUE(w.findChildren<Tfrm_Rule*>().isEmpty());
        for (QPushButton* b : w.findChildren<QPushButton*>())
            EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    }
};

TEST_F(RenameBatch, WholeTreeNumbersAcrossFoldersKeepingExtensions)
{
    // sub/img1.jpg already exists: a name another folder has is no collision.
    Files({"a.jpg", "b.png", "sub/img1.jpg", "sub/readme"});
    OpenFolder(dir.path());
    Numbered("img[1][1]");
    w.btn_ChangeAllFileName->click();

    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"img1.jpg", "img2.png", "sub/img3.jpg", "sub/img4"}));
    EXPECT_EQ(ReadFile(P("img1.jpg")), "a.jpg");
    EXPECT_EQ(ReadFile(P("img2.png")), "b.png");
    EXPECT_EQ(ReadFile(P("sub/img3.jpg")), "sub/img1.jpg");
    EXPECT_EQ(ReadFile(P("sub/img4")), "sub/readme");
    EXPECT_EQ(ListedFiles(), (QStringList{P("img1.jpg"), P("img2.png")}));  // page 1 reloaded
    EXPECT_EQ(w.StaticText1->text(), U("文件名已修改完成"));
    EXPECT_EQ(w.CurrentFile, P("sub/readme"));
    EXPECT_TRUE(boxes.shown.empty());
    ExpectBatchEnded();
}

TEST_F(RenameBatch, WholeTreeReplacesFirstOrAllInTheBaseNameOnly)
{
    Files({"IMG_IMG.jpg", "img_1.jpg", "photo.IMG", "IMG/x.IMG.txt"});
    OpenFolder(dir.path());
    Replace("IMG", "pic", false);
    w.btn_ChangeAllFileName->click();
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"IMG/x.pic.txt", "img_1.jpg", "photo.IMG", "pic_IMG.jpg"}));

    Replace("IMG", "pic", true);
    w.btn_ChangeAllFileName->click();
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"IMG/x.pic.txt", "img_1.jpg", "photo.IMG", "pic_pic.jpg"}));
    EXPECT_EQ(ReadFile(P("pic_pic.jpg")), "IMG_IMG.jpg");
    EXPECT_TRUE(boxes.shown.empty());
    ExpectBatchEnded();
}

TEST_F(RenameBatch, CheckedFilesOnlyAreNumberedInListOrder)
{
    Files({"a.txt", "b.dat", "c", "d.md"});
    OpenFolder(dir.path());
    ASSERT_EQ(ListedFiles(), (QStringList{P("a.txt"), P("b.dat"), P("c"), P("d.md")}));
    CheckRows({1, 3});
    w.CurrentFile = "untouched";
    Numbered("[10][5]");
    w.btn_ChangeSelectedName->click();

    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"10.dat", "15.md", "a.txt", "c"}));
    EXPECT_EQ(ReadFile(P("15.md")), "d.md");
    EXPECT_EQ(ListedFiles(), (QStringList{P("10.dat"), P("15.md"), P("a.txt"), P("c")}));
    EXPECT_EQ(w.CurrentFile, "untouched");
    ExpectBatchEnded();
}

TEST_F(RenameBatch, CheckedFilesReloadTheTopFolderAfterASubfolderWasShown)
{
    Files({"top.txt", "sub/s1.txt", "sub/s2.txt"});
    OpenFolder(dir.path());
    ASSERT_EQ(w.lst_SubDirectory_1->count(), 1);
    w.lst_SubDirectory_1->setCurrentRow(0);
    w.lst_SubDirectory_1Click();
    ASSERT_EQ(ListedFiles(), (QStringList{P("sub/s1.txt"), P("sub/s2.txt")}));
    CheckRows({0, 1});
    Replace("s", "t", true);
    w.btn_ChangeSelectedName->click();
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"sub/t1.txt", "sub/t2.txt", "top.txt"}));
    EXPECT_EQ(ListedFiles(), (QStringList{P("top.txt")}));
    ExpectBatchEnded();
}

// With no folder typed the reload lists nothing, so the completion text and
// the progress figures of the batch itself stay visible.
TEST_F(RenameBatch, CheckedFilesWriteTheirCompletionTextAndProgress)
{
    Files({"x.txt", "y.txt"});
    for (const char* name : {"x.txt", "y.txt"}) {
        auto* item = new QListWidgetItem(P(name), w.Lst_FIles_1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    Numbered("n[1][1]");
    w.btn_ChangeSelectedName->click();
    EXPECT_EQ(w.StaticText1->text(), U("选中文件名修改完成！"));
    EXPECT_EQ(w.ProgressBar->Max(), 0);
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"x.txt", "y.txt"}));
    EXPECT_EQ(w.Lst_FIles_1->count(), 0);
    ExpectBatchEnded();
}

// Whenever the window gets to paint, the status line and the bar show the
// file just renamed, however seldom they were touched on the way.
TEST_F(RenameBatch, AtEveryPaintTheStatusShowsTheFileJustRenamed)
{
    Files({"f1", "f2", "f3", "f4"});
    OpenFolder(dir.path());
    int painted = 0;
    SetPumpHook([&] {
        if (!PumpDue()) {
            QThread::msleep(20);  // so the next file's pump is due
            return;
        }
        if (!w.StaticText1->text().startsWith(U("正在更改文件:")))
            return;  // the reload of page 1
        const int at = int(w.ProgressBar->Position());
        const QString old = w.StaticText1->text().mid(U("正在更改文件:").size());
        EXPECT_TRUE(QFile::exists(P("n") + QString::number(at)) && !QFile::exists(P("n") + QString::number(at + 1)));
        EXPECT_TRUE(old.startsWith('f') && !QFile::exists(P(qPrintable(old)))) << old.toStdString();
        ++painted;
    });
    Numbered("n[1][1]");
    w.btn_ChangeAllFileName->click();
    SetPumpHook({});
    EXPECT_GE(painted, 2);
    ExpectBatchEnded();
}

TEST_F(RenameBatch, ACollisionFoundBeforeTheFirstRenameRenamesNothing)
{
    // Step 0 gives every file the same name: the second rename would be refused.
    Files({"a.txt", "b.txt", "c.txt"});
    OpenFolder(dir.path());
    Numbered("n[1][0]");
    w.btn_ChangeAllFileName->click();

    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"a.txt", "b.txt", "c.txt"}));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, ShownBox::Error);
    EXPECT_EQ(boxes.shown[0].caption, ApplicationTitle());
    EXPECT_EQ(boxes.shown[0].text, RenameFailure(P("b.txt"), EEXIST));
    EXPECT_EQ(ListedFiles(), (QStringList{P("a.txt"), P("b.txt"), P("c.txt")}));  // reloaded
    ExpectBatchEnded();
}

// A refusal that shows only while renaming still ends the batch at that file.
TEST_F(RenameBatch, AFileThatVanishesMidBatchEndsItAndKeepsEarlierRenames)
{
    Files({"a.txt", "b.txt", "c.txt"});
    OpenFolder(dir.path());
    SetPumpHook([&] { QFile::remove(P("b.txt")); });
    Numbered("n[1][1]");
    w.btn_ChangeAllFileName->click();
    SetPumpHook({});
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"c.txt", "n1.txt"}));
    EXPECT_EQ(boxes.Texts(ShownBox::Error), QStringList{RenameFailure(P("b.txt"), ENOENT)});
    ExpectBatchEnded();
}

TEST_F(RenameBatch, ANameThatExistsIsNeverReplaced)
{
    Files({"1.txt", "2.txt"});
    OpenFolder(dir.path());
    CheckRows({0, 1});
    Numbered("[2][1]");
    w.btn_ChangeSelectedName->click();
    EXPECT_EQ(boxes.Texts(ShownBox::Error), QStringList{RenameFailure(P("1.txt"), EEXIST)});
    EXPECT_EQ(ReadFile(P("1.txt")), "1.txt");
    EXPECT_EQ(ReadFile(P("2.txt")), "2.txt");
    ExpectBatchEnded();
}

// The second checked file would take the name of an unchecked one: the first keeps its name too.
TEST_F(RenameBatch, AClashWithAFileOutsideTheBatchRenamesNothing)
{
    Files({"a.txt", "b.txt", "n2.txt", "x.txt"});
    OpenFolder(dir.path());
    CheckRows({0, 3});
    Numbered("n[1][1]");
    w.btn_ChangeSelectedName->click();
    EXPECT_EQ(boxes.Texts(ShownBox::Error), QStringList{RenameFailure(P("x.txt"), EEXIST)});
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"a.txt", "b.txt", "n2.txt", "x.txt"}));
    ExpectBatchEnded();
}

TEST_F(RenameBatch, ANameThatDoesNotChangeIsLeftAloneAndTheBatchGoesOn)
{
    Files({"n1.txt", "x.txt"});
    OpenFolder(dir.path());
    Numbered("n[1][1]");
    w.btn_ChangeAllFileName->click();
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"n1.txt", "n2.txt"}));
    EXPECT_EQ(ReadFile(P("n1.txt")), "n1.txt");
    EXPECT_EQ(ReadFile(P("n2.txt")), "x.txt");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(RenameBatch, ARejectedFolderTextEndsTheWholeTreeBatchBeforeAnyRename)
{
    Files({"a.txt"});
    OpenFolder(P("missing"));
    boxes.shown.clear();
    Numbered("n[1][1]");
    w.btn_ChangeAllFileName->click();
    // One failure, one box: the reload afterwards is silent.
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, ShownBox::Error);
    EXPECT_EQ(boxes.shown[0].text, U("The specified path was not found."));
    EXPECT_EQ(RelativeFiles(dir.path()), QStringList{"a.txt"});
    ExpectBatchEnded();
}

TEST_F(RenameBatch, AnEmptyFolderTextRenamesNothingAndLeavesTheStatusLine)
{
    w.StaticText1->setText("before");
    Numbered("n[1][1]");
    w.btn_ChangeAllFileName->click();
    EXPECT_EQ(w.StaticText1->text(), "before");
    EXPECT_TRUE(boxes.shown.empty());
    ExpectBatchEnded();
}

TEST_F(RenameBatch, StopEndsTheBatchAfterTheFileInHand)
{
    Files({"f1", "f2", "f3", "f4", "f5"});
    OpenFolder(dir.path());
    int pumps = 0;
    bool stopUsable = false;
    SetPumpHook([&] {
        if (++pumps == 2) {
            stopUsable = w.btn_Stop->isEnabled() && !w.btn_ChangeAllFileName->isEnabled()
                         && !w.btn_Stop_2->isEnabled();
            QTest::mouseClick(w.btn_Stop, Qt::LeftButton);
        }
    });
    Numbered("g[1][1]");
    w.btn_ChangeAllFileName->click();
    SetPumpHook({});
    EXPECT_TRUE(stopUsable);
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"f3", "f4", "f5", "g1", "g2"}));
    EXPECT_EQ(w.StaticText1->text(), U("文件名已修改完成"));
    ExpectBatchEnded();
}

// A folder load inside the message pump refills the list; the batch renames
// what was checked when it started.
TEST_F(RenameBatch, CheckedFilesAreTakenBeforeTheFirstRename)
{
    Files({"a.txt", "b.txt", "c.txt"});
    OpenFolder(dir.path());
    CheckRows({0, 2});
    bool meddled = false;
    SetPumpHook([&] {
        if (!meddled) {
            meddled = true;
            w.Lst_FIles_1->clear();
        }
    });
    Numbered("m[1][1]");
    w.btn_ChangeSelectedName->click();
    SetPumpHook({});
    EXPECT_TRUE(meddled);
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"b.txt", "m1.txt", "m2.txt"}));
}

TEST_F(RenameBatch, TheCloseBoxRenamesNothing)
{
    Files({"a.txt", "sub/b.txt"});
    OpenFolder(dir.path());
    CheckRows({0});
    Answer([](Tfrm_Rule& d) {
        d.edt_prefix->setText("[1][1]");
        d.edt_testRightButton->trigger();  // a preview confirms nothing
        d.close();
    });
    w.btn_ChangeAllFileName->click();
    EXPECT_EQ(w.StaticText1->text(), U("文件名已修改完成"));
    w.btn_ChangeSelectedName->click();
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"a.txt", "sub/b.txt"}));
    ExpectBatchEnded();
}

TEST_F(RenameBatch, TheRuleDialogRunsModallyWithoutTheTestSeam)
{
    Files({"a.txt"});
    OpenFolder(dir.path());
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<Tfrm_Rule*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->PageControl1->currentIndex(), 0);
        d->edt_prefix->setText("z[7][1]");
        QTest::mouseClick(d->btn_Change, Qt::LeftButton);
    });
    QTest::mouseClick(w.btn_ChangeAllFileName, Qt::LeftButton);
    EXPECT_EQ(RelativeFiles(dir.path()), QStringList{"z7.txt"});
    EXPECT_TRUE(w.findChildren<Tfrm_Rule*>().isEmpty());
}

const QString kUndo = QString::fromUtf8("撤销上次批量改名");

QString UndoQuestion(const QString& folder, int count)
{
    return U("撤销上次批量改名：将文件夹“") + folder + U("”中的 ") + QString::number(count)
           + U(" 个文件恢复为原来的名称。是否继续？");
}

bool UndoOffered(Tfrm_main& win)
{
    for (const auto& entry : windowtest::RightClick(win, win.Lst_FIles_1, -1))
        if (entry.text == kUndo)
            return entry.enabled;
    ADD_FAILURE() << "no undo entry";
    return false;
}

// The journal outlives the window: a new window undoes what the old one renamed.
TEST_F(RenameBatch, UndoAfterARestartRestoresANumberedTreeBatch)
{
    Files({"a.jpg", "b.png", "sub/readme"});
    OpenFolder(dir.path());
    EXPECT_FALSE(UndoOffered(w));
    Numbered("img[1][1]");
    w.btn_ChangeAllFileName->click();
    ASSERT_EQ(RelativeFiles(dir.path()), (QStringList{"img1.jpg", "img2.png", "sub/img3"}));

    ScriptedDialogs again;
    Tfrm_main restarted{again};
    restarted.show();
    restarted.edt_Folder->setText(dir.path());
    again.yesNoAnswers = {false, true};
    windowtest::RightClick(restarted, restarted.Lst_FIles_1, 0, kUndo);  // No: nothing moves
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"img1.jpg", "img2.png", "sub/img3"}));
    windowtest::RightClick(restarted, restarted.Lst_FIles_1, 0, kUndo);
    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"a.jpg", "b.png", "sub/readme"}));
    EXPECT_EQ(ReadFile(P("sub/readme")), "sub/readme");
    ASSERT_EQ(again.shown.size(), 2u);
    EXPECT_EQ(again.shown[1].kind, ShownBox::YesNo);
    EXPECT_EQ(again.shown[1].caption, kUndo);
    EXPECT_EQ(again.shown[1].text, UndoQuestion(dir.path(), 3));
    EXPECT_EQ(restarted.Lst_FIles_1->item(0)->text(), P("a.jpg"));  // page 1 reloaded
    EXPECT_FALSE(UndoOffered(restarted));                           // and the journal cleared
}

// What can't be reversed is named once and left as it is; the rest is reversed.
TEST_F(RenameBatch, UndoOfAReplaceBatchNamesTheRenamesItCouldNotReverse)
{
    Files({"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg", "other.txt"});
    OpenFolder(dir.path());
    CheckRows({0, 1, 2});
    Replace("IMG", "pic", true);
    w.btn_ChangeSelectedName->click();
    ASSERT_EQ(RelativeFiles(dir.path()), (QStringList{"other.txt", "pic_1.jpg", "pic_2.jpg", "pic_3.jpg"}));
    WriteFile(P("IMG_1.jpg"), "a new file under the old name");
    QFile::remove(P("pic_2.jpg"));
    ASSERT_TRUE(UndoOffered(w));
    windowtest::RightClick(w, w.Lst_FIles_1, 0, kUndo);

    EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"IMG_1.jpg", "IMG_3.jpg", "other.txt", "pic_1.jpg"}));
    EXPECT_EQ(ReadFile(P("pic_1.jpg")), "IMG_1.jpg");
    EXPECT_EQ(boxes.Texts(ShownBox::YesNo), QStringList{UndoQuestion(dir.path(), 3)});
    const QString failed = U("以下 2 个改名未能撤销，这些文件保持现状：\n")
                           + P("pic_2.jpg") + U(" → IMG_2.jpg（") + QString::fromStdString(platform::ErrnoText(ENOENT))
                           + U("）\n") + P("pic_1.jpg") + U(" → IMG_1.jpg（")
                           + QString::fromStdString(platform::ErrnoText(EEXIST)) + U("）");
    EXPECT_EQ(boxes.Texts(ShownBox::Error), QStringList{failed});
    EXPECT_FALSE(UndoOffered(w));
    ExpectBatchEnded();
}

// A batch of the command line paused mid-way holds the journal: the window's
// rename and undo are refused in one box each and move nothing; a journal
// that can't be trusted is refused by the undo and left in place.
TEST_F(RenameBatch, RefusedRenamesAndUndosShowOneBoxAndMoveNothing)
{
    Files({"a.txt", "b.txt", "c.txt"});
    OpenFolder(dir.path());
    Numbered("w[1][1]");
    const QString busy = U("另一个批量改名或撤销正在进行.");
    {
        clitest::Paused cli({"rename", "--rule", "c[1][1]", "-r", dir.path()}, 1, dir.filePath("../err"));
        ASSERT_TRUE(cli.Stopped());
        w.btn_ChangeAllFileName->click();
        windowtest::RightClick(w, w.Lst_FIles_1, 0, kUndo);
        EXPECT_EQ(boxes.Texts(ShownBox::Error), (QStringList{busy, busy}));
        EXPECT_EQ(RelativeFiles(dir.path()), (QStringList{"b.txt", "c.txt", "c1.txt"}));
        EXPECT_EQ(cli.Finish(), 0);
    }
    ExpectBatchEnded();
    const QByteArray tampered = "velmora rename journal 2\nfolder /\n.. etc passwd 1 2\n";
    WriteFile(RenameJournalPath(), tampered);
    boxes.shown.clear();
    windowtest::RightClick(w, w.Lst_FIles_1, 0, kUndo);
    ASSERT_EQ(boxes.Texts(ShownBox::Error).size(), 1);
    EXPECT_TRUE(boxes.Texts(ShownBox::Error)[0].startsWith(U("改名记录无法使用，未撤销任何改名：")));
    EXPECT_EQ(ReadFile(RenameJournalPath()), tampered);
    EXPECT_TRUE(boxes.Texts(ShownBox::YesNo).isEmpty());
}

}  // namespace

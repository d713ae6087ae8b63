// The main window offscreen: controls, shared state, the frame and folder browsing.
#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "TestUtil.h"
#include "un_Main.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path();
        w = std::make_unique<Tfrm_main>(dialogs);
        w->show();
    }
    void TearDown() override
    {
        SetPumpHook({});
        w.reset();
    }
    void File(const QString& rel) { testutil::WriteFile(root + "/" + rel, "x"); }
    QString P(const QString& rel) const { return root + "/" + rel; }
    template <typename T>
    T* Find(const char* name) const
    {
        return w->findChild<T*>(QString::fromLatin1(name));
    }
    QStringList Enabled() const
    {
        QStringList names;
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->isEnabled())
                names << b->objectName();
        return names;
    }
    static QStringList Items(const QListWidget* list)
    {
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->item(i)->text();
        return items;
    }
    static QList<bool> Checks(const QListWidget* list)
    {
        QList<bool> checks;
        for (int i = 0; i < list->count(); ++i)
            checks << (list->item(i)->checkState() == Qt::Checked);
        return checks;
    }

    QTemporaryDir dir;
    QString root;
    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_main> w;
};

struct ButtonRow {
    const char* name;
    const char* caption;
    const char* hint;
};

const ButtonRow kPage1[] = {
    {"btn_AllSelect", "选取所有", ""},
    {"btn_CancelAllSelect", "全部非选", ""},
    {"btn_NotValue", "反选", ""},
    {"btn_ZipSelected", "压缩选中文件", "压缩当前文件夹下选中的文件"},
    {"btn_ZipFolder", "压缩文件夹(含子文件夹)", "当前文件夹下的文件和所有子文件夹下的文件"},
    {"btn_EncryptSelectedFiles", "加密选中文件", "加密当前文件夹下选中的文件"},
    {"btn_EncryptFolders", "加密文件夹(含子文件夹)", "加密当前文件夹下的文件和所有子文件夹下的文件"},
    {"btn_OutFiles", "导出选中文件列表", "导出当前文件夹选中文件列表"},
    {"btn_OutAllFiles", "导出全部文件列表(含文件夹）", "导出当前文件夹所有文件"},
    {"btn_ChangeSelectedName", "批量更改选中文件名", ""},
    {"btn_ChangeAllFileName", "批量更改文件夹名（含子文件夹）", ""},
    {"btn_Stop", "停止", ""},
};
const ButtonRow kPage2[] = {
    {"btn_SelectAll_2", "选取所有", ""},
    {"btn_UnSelectAll_2", "全部非选", ""},
    {"btn_NotValue_2", "反选", ""},
    {"btn_UnZipSelected_same", "解压选中文件到同目录下", "解压选中的压缩文件到当前目录下"},
    {"btn_UnZipAllSelected_same", "解压文件夹所有文件到当前目录", "解压目录下所有文件夹内压缩文件到当前目录下"},
    {"btn_UnZipSelectedToSpecified", "解压选中文件到指定目录", ""},
    {"btn_UnZipAllToSpecified", "解压文件夹所有文件到指定目录", "当前文件夹下的文件和所有子文件夹下的文件"},
    {"btn_DECryptSelected", "解密选中文件", "解密当前文件夹选中的文件"},
    {"btn_DECrypt_ALl", "解密文件夹(含子文件夹)", ""},
    {"btn_Stop_2", "停止", ""},
};

}  // namespace

TEST_F(Window, FrameTitleSizeAndPages)
{
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Velmora文件夹工具"));
    EXPECT_EQ(w->size(), QSize(1067, 587));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_EQ(w->font().pixelSize(), 16);
    auto* pages = Find<QTabWidget>("PageControl1");
    ASSERT_NE(pages, nullptr);
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->tabText(0), QStringLiteral("加密压缩"));
    EXPECT_EQ(pages->tabText(1), QStringLiteral("解压解密"));
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_EQ(Find<QWidget>("Panel1")->height(), 27);
    EXPECT_EQ(Find<QWidget>("ProgressBar")->width(), 272);
    EXPECT_EQ(w->ProgressBar->Max(), 100);
    EXPECT_EQ(w->ProgressBar->Position(), 0);
    EXPECT_EQ(w->StaticText1->text(), QString());
}

TEST_F(Window, ButtonColumnsInOrderWithCaptionsHintsAndSize)
{
    for (const auto& [column, group, count] :
         {std::tuple{kPage1, "GroupBox5", 12}, std::tuple{kPage2, "GroupBox10", 10}}) {
        auto* box = Find<QGroupBox>(group);
        ASSERT_NE(box, nullptr);
        w->PageControl1->setCurrentWidget(box->parentWidget());  // lay out the page before measuring
        QCoreApplication::processEvents();
        EXPECT_EQ(box->title(), QStringLiteral("功能按钮"));
        EXPECT_EQ(box->width(), 273);
        int lastY = -1;
        for (int i = 0; i < count; ++i) {
            auto* b = Find<QPushButton>(column[i].name);
            ASSERT_NE(b, nullptr) << column[i].name;
            EXPECT_EQ(b->parentWidget(), box);
            EXPECT_EQ(b->text(), QString::fromUtf8(column[i].caption)) << column[i].name;
            EXPECT_EQ(b->toolTip(), QString::fromUtf8(column[i].hint)) << column[i].name;
            EXPECT_EQ(b->size(), QSize(255, 25));
            EXPECT_GT(b->y(), lastY) << column[i].name << " out of order";
            lastY = b->y();
        }
    }
}

TEST_F(Window, FolderBarsListsAndGroups)
{
    const char* names[][2] = {{"Label2", "目录："}, {"Label1", "目录："}};
    for (auto& [name, text] : names)
        EXPECT_EQ(Find<QLabel>(name)->text(), QString::fromUtf8(text));
    EXPECT_EQ(Find<QLineEdit>("edt_Folder")->width(), 415);
    EXPECT_EQ(Find<QLineEdit>("edt_Folder_2")->width(), 415);
    EXPECT_EQ(Find<QPushButton>("btn_ok")->text(), QStringLiteral("选择文件夹"));
    EXPECT_EQ(Find<QPushButton>("btn_Select")->text(), QStringLiteral("选择文件夹"));
    EXPECT_EQ(Find<QPushButton>("btn_Refresh")->text(), QStringLiteral("刷新"));
    EXPECT_EQ(Find<QPushButton>("btn_Refresh2")->text(), QStringLiteral("刷新"));
    EXPECT_EQ(Find<QGroupBox>("GroupBox1")->title(), QStringLiteral("加密设置"));
    EXPECT_EQ(Find<QGroupBox>("GroupBox3")->title(), QStringLiteral("解密设置"));
    EXPECT_EQ(Find<QCheckBox>("chk_ShowPassword")->text(), QStringLiteral("显示密码"));
    EXPECT_EQ(Find<QCheckBox>("chk_ShowPassword_2")->text(), QStringLiteral("显示密码"));
    EXPECT_EQ(Find<QGroupBox>("GroupBox6")->height(), 65);
    EXPECT_EQ(Find<QGroupBox>("GroupBox2")->height(), 65);
    for (const char* g : {"GroupBox8", "GroupBox7"})
        EXPECT_EQ(Find<QGroupBox>(g)->title(), QStringLiteral("包含子文件夹"));
    for (const char* g : {"GroupBox4", "GroupBox9"})
        EXPECT_EQ(Find<QGroupBox>(g)->title(), QStringLiteral("文件夹下文件列表"));
    EXPECT_EQ(Find<QGroupBox>("GroupBox8")->width(), 358);
    for (const char* s : {"Splitter3", "Splitter2"})
        EXPECT_NE(Find<QSplitter>(s), nullptr);
    for (const char* l : {"Lst_FIles_1", "Lst_FIles_2", "lst_SubDirectory_1", "lst_SubDirectory_2"}) {
        EXPECT_FALSE(Find<QListWidget>(l)->isSortingEnabled());
        EXPECT_EQ(Find<QListWidget>(l)->font().pixelSize(), 13);
    }
}

TEST_F(Window, PasswordsShowStarsUntilShowPasswordIsChecked)
{
    for (auto [edit, box] : {std::pair{w->edt_Password, w->chk_ShowPassword},
                             std::pair{w->edt_Password_2, w->chk_ShowPassword_2}}) {
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), int('*'));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    }
}

TEST_F(Window, SelectAllNoneAndInvertOnBothLists)
{
    for (auto [list, all, none, invert] :
         {std::tuple{w->Lst_FIles_1, w->btn_AllSelect, w->btn_CancelAllSelect, w->btn_NotValue},
          std::tuple{w->Lst_FIles_2, w->btn_SelectAll_2, w->btn_UnSelectAll_2, w->btn_NotValue_2}}) {
        // Empty lists: nothing happens, no failure.
        for (QPushButton* b : {all, none, invert})
            b->click();
        EXPECT_TRUE(dialogs.shown.empty());
        for (int i = 0; i < 3; ++i) {
            auto* item = new QListWidgetItem(QStringLiteral("f%1").arg(i), list);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(i == 1 ? Qt::Checked : Qt::Unchecked);
        }
        invert->click();
        EXPECT_EQ(Checks(list), (QList<bool>{true, false, true}));
        invert->click();
        EXPECT_EQ(Checks(list), (QList<bool>{false, true, false}));
        all->click();
        EXPECT_EQ(Checks(list), (QList<bool>{true, true, true}));
        none->click();
        EXPECT_EQ(Checks(list), (QList<bool>{false, false, false}));
    }
}

TEST_F(Window, StopSetsTheFlagWhileIdleAndTheNextActionClearsIt)
{
    w->btn_Stop->click();
    EXPECT_EQ(w->StopFlag, -1);
    w->StopFlag = 0;
    w->btn_Stop_2->click();
    EXPECT_EQ(w->StopFlag, -1);
    File("a");
    w->edt_Folder->setText(root);
    EXPECT_EQ(w->StopFlag, 0);
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("a")}));
}

TEST_F(Window, DisEnabledExcludeKeepsOnlyTheNamedButtonAndEnabledAllButtonRestores)
{
    w->btn_Stop_2->setEnabled(false);
    w->DisEnabledExclude(QStringLiteral("btn_Stop"));
    EXPECT_EQ(Enabled(), QStringList{QStringLiteral("btn_Stop")});
    EXPECT_TRUE(w->edt_Folder->isEnabled());
    EXPECT_TRUE(w->chk_ShowPassword->isEnabled());
    EXPECT_TRUE(w->Lst_FIles_1->isEnabled());
    // Exact, case-sensitive: no button is called "BTN_STOP", so all are disabled.
    w->EnabledAllButton();
    w->DisEnabledExclude(QStringLiteral("BTN_STOP"));
    EXPECT_TRUE(Enabled().isEmpty());
    w->EnabledAllButton();
    EXPECT_EQ(Enabled().size(), 22 + 4);  // 12 + 10 in the columns, choose and refresh on both pages
}

TEST_F(Window, DefaultFailureReportAddsAFullStopOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(Tfrm_main::FailureText(QStringLiteral("abc")), QStringLiteral("abc."));
    EXPECT_EQ(Tfrm_main::FailureText(QStringLiteral("abc.")), QStringLiteral("abc."));
    EXPECT_EQ(Tfrm_main::FailureText(QStringLiteral("abc-")), QStringLiteral("abc-"));
    EXPECT_EQ(Tfrm_main::FailureText(QStringLiteral("abc/")), QStringLiteral("abc/."));
    EXPECT_EQ(Tfrm_main::FailureText(QStringLiteral("错误")), QStringLiteral("错误."));
    EXPECT_EQ(Tfrm_main::FailureText(QString()), QString());

    w->RunAction([] { throw std::runtime_error("出错了"); });
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Velmora文件夹工具V1.0"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("出错了."));
}

TEST_F(Window, FailureThatEndsAHandlerLeavesTheBusyState)
{
    w->RunAction([this] {
        w->DisEnabledExclude(QStringLiteral("btn_Stop"));
        throw std::runtime_error("x");
    });
    EXPECT_EQ(Enabled().size(), 26);
}

TEST_F(Window, ReloadListsFilesThenSubfoldersWithStatusTextsInOrder)
{
    File("b");
    File("a");
    File("S/inner");
    File("S/T/deep");
    QStringList seen;
    QStringList enabledDuringLoad;
    SetPumpHook([&] {
        seen << w->StaticText1->text();
        enabledDuringLoad = Enabled();
    });
    w->edt_Folder->setText(root);
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("a"), P("b")}));
    EXPECT_EQ(Checks(w->Lst_FIles_1), (QList<bool>{true, true}));
    EXPECT_EQ(Items(w->lst_SubDirectory_1), (QStringList{P("S"), P("S/T")}));
    EXPECT_EQ(seen, (QStringList{"添加目录:" + P("a"), "添加目录:" + P("b"), "添加目录:" + P("S"),
                                 "添加目录:" + P("S/T")}));
    EXPECT_EQ(w->StaticText1->text(), QStringLiteral("目录添加完成"));
    EXPECT_EQ(w->ProgressBar->Position(), 100);
    EXPECT_EQ(enabledDuringLoad, QStringList{QStringLiteral("btn_Stop")});
    EXPECT_EQ(Enabled().size(), 26);
    EXPECT_TRUE(dialogs.shown.empty());
    // Page 2 was never touched.
    EXPECT_EQ(w->Lst_FIles_2->count(), 0);
    EXPECT_EQ(w->lst_SubDirectory_2->count(), 0);
}

TEST_F(Window, EachBadFolderTextShowsTheLoadErrorBoxAndLeavesListsEmpty)
{
    File("plain");
    const std::pair<QString, QString> cases[] = {
        {P("missing"), "The specified path was not found"},
        {P("plain"), "The specified path was not found"},
        {QStringLiteral(" "), "Invalid characters in path"},
        {root + QChar(0xDC00), "The path format is not supported"},
        {root + "/" + QString(256, QLatin1Char('y')), "The specified path is too long"},
    };
    for (const auto& [text, message] : cases) {
        dialogs.shown.clear();
        w->edt_Folder_2->setText(text);
        ASSERT_EQ(dialogs.shown.size(), 1u) << text.toStdString();
        EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Message);
        EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("选择文件夹错误!"));
        EXPECT_EQ(dialogs.shown[0].text, message);
        EXPECT_EQ(w->Lst_FIles_2->count(), 0);
        EXPECT_EQ(w->lst_SubDirectory_2->count(), 0);
        EXPECT_EQ(Enabled().size(), 26);
    }
    // Deleting the whole text empties both lists and shows nothing.
    File("f");
    w->edt_Folder_2->setText(root);
    ASSERT_EQ(w->Lst_FIles_2->count(), 2);
    dialogs.shown.clear();
    w->edt_Folder_2->clear();
    EXPECT_EQ(w->Lst_FIles_2->count(), 0);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Window, PickerSetsTheFolderAndTheSameFolderAgainDoesNotReload)
{
    File("one");
    dialogs.folderAnswers = {root, root, std::nullopt};
    w->btn_ok->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::PickFolder);
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("请选择新的文件夹"));
    EXPECT_FALSE(dialogs.shown[0].offerNewFolder);
    EXPECT_EQ(w->edt_Folder->text(), root);
    EXPECT_EQ(w->Lst_FIles_1->count(), 1);

    File("two");
    w->btn_ok->click();  // same folder: no reload, the new file is not listed yet
    EXPECT_EQ(w->Lst_FIles_1->count(), 1);
    w->btn_ok->click();  // cancelled: nothing changes
    EXPECT_EQ(w->edt_Folder->text(), root);
    w->btn_Refresh->click();
    EXPECT_EQ(w->Lst_FIles_1->count(), 2);
}

TEST_F(Window, SubfolderClickListsThatFolderOnlyAndKeepsTheRest)
{
    File("top");
    File("S/s1");
    File("S/T/t1");
    w->edt_Folder->setText(root);
    ASSERT_EQ(w->lst_SubDirectory_1->count(), 2);
    QListWidget* subs = w->lst_SubDirectory_1;
    const QRect rect = subs->visualItemRect(subs->item(0));
    QTest::mouseClick(subs->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("S/s1")}));
    EXPECT_EQ(w->edt_Folder->text(), root);
    EXPECT_EQ(subs->count(), 2);
    // A keyboard move selects the next entry.
    subs->setFocus();
    QTest::keyClick(subs, Qt::Key_Down);
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("S/T/t1")}));
    // Emptying the subfolder list (a reload) selects nothing and shows nothing.
    dialogs.shown.clear();
    w->btn_Refresh->click();
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("top")}));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Window, FolderLoadAskedForDuringAnActionWaitsAndTheLatestTextWins)
{
    File("A/a1");
    File("B/b1");
    int pumps = 0;
    SetPumpHook([&] {
        // Typing in the folder edit while a load of page 1 runs.
        if (++pumps == 1) {
            w->edt_Folder->setText(P("A"));
            EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("x")}));  // the running load's list is untouched
            w->edt_Folder->setText(P("B"));
        }
    });
    File("x");
    w->edt_Folder->setText(root);
    SetPumpHook({});
    EXPECT_EQ(w->edt_Folder->text(), P("B"));
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("B/b1")}));
    EXPECT_FALSE(w->ActionRunning());
}

TEST_F(Window, ClosingDuringAnActionStopsItAfterTheCurrentItemThenCloses)
{
    for (int i = 0; i < 20; ++i)
        File(QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0')));
    int pumps = 0;
    SetPumpHook([&] {
        if (++pumps == 2)
            w->close();
    });
    w->edt_Folder->setText(root);
    EXPECT_EQ(w->Lst_FIles_1->count(), 2);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(Window, DroppingAFolderOnAPageSetsThatPagesFolderEdit)
{
    File("S/inside");
    auto drop = [](QWidget* target, const QString& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        // A drop reaches the widget that accepted the drag's entry, as in a real drag.
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
        QCoreApplication::processEvents();  // the folder loads once the drop is done
        return event.isAccepted();
    };
    EXPECT_TRUE(drop(w->Lst_FIles_2->viewport(), P("S")));
    EXPECT_EQ(w->edt_Folder_2->text(), P("S"));
    EXPECT_EQ(Items(w->Lst_FIles_2), (QStringList{P("S/inside")}));
    EXPECT_TRUE(drop(w->lst_SubDirectory_1->viewport(), root));
    EXPECT_EQ(w->edt_Folder->text(), root);
    // A file is no folder: nothing changes.
    drop(w->edt_Folder, P("S/inside"));
    EXPECT_EQ(w->edt_Folder->text(), root);
    EXPECT_EQ(w->edt_Folder_2->text(), P("S"));
}

TEST_F(Window, ANewerFolderTextAbandonsAWalkThatIsStillRunning)
{
    // A tree deep enough that its walk is still running when the user types on.
    QString deep = P("deep");
    for (int i = 0; i < 40; ++i) {
        deep += QStringLiteral("/d");
        QDir().mkpath(deep);
        for (int k = 0; k < 40; ++k)
            QDir().mkpath(deep + QStringLiteral("/s%1").arg(k));
    }
    File("other/o1");
    bool typed = false;
    // Typing arrives while the page waits for the loader: a queued key event.
    QTimer::singleShot(0, [&] {
        typed = true;
        w->edt_Folder->setText(P("other"));
    });
    w->edt_Folder->setText(P("deep"));
    EXPECT_TRUE(typed);
    EXPECT_EQ(w->edt_Folder->text(), P("other"));
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("other/o1")}));
    EXPECT_EQ(w->lst_SubDirectory_1->count(), 0);
    EXPECT_FALSE(w->ActionRunning());
}

TEST_F(Window, EscapeInAnyControlLeavesTheWindowOpen)
{
    for (QWidget* control : std::initializer_list<QWidget*>{w->edt_Folder, w->Lst_FIles_1, w->lst_SubDirectory_2,
                                                            w->btn_ok, w->chk_ShowPassword, w->PageControl1, w.get()}) {
        QTest::keyClick(control, Qt::Key_Escape);
        EXPECT_TRUE(w->isVisible()) << control->objectName().toStdString();
    }
}

TEST_F(Window, PendingReloadOutlivesLaterSubfolderClicksAndYieldsToAClose)
{
    File("x");
    File("S/s1");
    File("A/a1");
    File("A/AS/inner");
    // A folder text typed during a load, then a move in the old subfolder list: the new text is loaded.
    bool typed = false;
    SetPumpHook([&] {
        if (!typed && w->lst_SubDirectory_1->count() > 0) {
            typed = true;
            w->edt_Folder->setText(P("A"));
            QTest::keyClick(w->lst_SubDirectory_1, Qt::Key_Down);
        }
    });
    w->edt_Folder->setText(root);
    EXPECT_EQ(Items(w->Lst_FIles_1), (QStringList{P("A/a1")}));
    EXPECT_EQ(Items(w->lst_SubDirectory_1), (QStringList{P("A/AS")}));

    // A close request during a load with a reload waiting: the window closes, the reload never runs.
    SetPumpHook([&] {
        if (w->edt_Folder->text() == root) {
            w->edt_Folder->setText(P("A"));
            w->close();
        }
    });
    w->edt_Folder->setText(root);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(Items(w->Lst_FIles_1).contains(P("A/a1")));
    EXPECT_FALSE(w->ActionRunning());
}

TEST_F(Window, EveryMoveOfTheSubfolderEntryByTheUserListsThatSubfolder)
{
    for (const char* sub : {"S0", "S1", "S2", "S3"})
        File(QString::fromLatin1(sub) + "/f");
    w->edt_Folder->setText(root);
    QListWidget* subs = w->lst_SubDirectory_1;
    ASSERT_EQ(subs->count(), 4);
    auto at = [&](int row) { return subs->visualItemRect(subs->item(row)).center(); };
    subs->setFocus(Qt::TabFocusReason);  // focusing makes no entry current: the first Down lists S0
    const struct {
        const char* what;
        std::function<void()> act;
        const char* listed;
    } moves[] = {
        {"Down after focusing", [&] { QTest::keyClick(subs, Qt::Key_Down); }, "S0"},
        {"Down", [&] { QTest::keyClick(subs, Qt::Key_Down); }, "S1"},
        {"End", [&] { QTest::keyClick(subs, Qt::Key_End); }, "S3"},
        {"Home", [&] { QTest::keyClick(subs, Qt::Key_Home); }, "S0"},
        {"PageDown", [&] { QTest::keyClick(subs, Qt::Key_PageDown); }, "S3"},
        {"drag from S0 to S2",
         [&] {
             QTest::mousePress(subs->viewport(), Qt::LeftButton, {}, at(0));
             QMouseEvent move(QEvent::MouseMove, at(2), subs->viewport()->mapToGlobal(at(2)), Qt::NoButton,
                              Qt::LeftButton, Qt::NoModifier);
             QCoreApplication::sendEvent(subs->viewport(), &move);
             QTest::mouseRelease(subs->viewport(), Qt::LeftButton, {}, at(2));
         },
         "S2"},
        {"click on the current entry", [&] { QTest::mouseClick(subs->viewport(), Qt::LeftButton, {}, at(2)); }, "S2"},
    };
    for (const auto& m : moves) {
        w->Lst_FIles_1->clear();
        m.act();
        EXPECT_EQ(Items(w->Lst_FIles_1), QStringList{P(QString::fromLatin1(m.listed) + "/f")}) << m.what;
    }
    // Refilling the list while it has the focus lists nothing and makes no entry current.
    w->btn_Refresh->click();
    EXPECT_EQ(Items(w->Lst_FIles_1), QStringList{});
    EXPECT_EQ(subs->currentRow(), -1);
}

// Start-up as main() does it: Qt's Chinese texts, the dark look and the
// fonts it leaves on every control, the folder picker's starting folder.
#include "Dialogs.h"
#include "StartUp.h"
#include "TestUtil.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

class StartUp : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static QtDialogs real;
        PrepareApplication(real);  // once per process, as main() does
    }
    ScriptedDialogs dialogs;
};

// While the next modal box is open: its buttons' texts; then presses the last.
QStringList ButtonsOfNextBox(const std::function<void()>& show)
{
    QStringList texts;
    QTimer::singleShot(0, [&texts] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons())
            texts << b->text().remove(QLatin1Char('&'));
        box->buttons().last()->click();
    });
    show();
    return texts;
}

// Each named control (Qt's own parts aside) with the pixel size it shows.
void ExpectFonts(QWidget* form, const QStringList& listsAt13)
{
    int checked = 0;
    for (QWidget* c : form->findChildren<QWidget*>()) {
        const QString name = c->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        ++checked;
        EXPECT_EQ(c->font().family().toStdString(), "Tahoma") << name.toStdString();
        EXPECT_EQ(c->font().pixelSize(), listsAt13.contains(name) ? 13 : 16) << name.toStdString();
    }
    EXPECT_GT(checked, 15);
}

}  // namespace

TEST_F(StartUp, EveryNamedControlShowsItsTahomaSizeUnderTheDarkLook)
{
    Tfrm_main w(dialogs);
    w.show();
    for (int page : {1, 0}) {  // each page is laid out and polished when it is shown
        w.PageControl1->setCurrentIndex(page);
        QCoreApplication::processEvents();
    }
    ExpectFonts(&w, {"lst_SubDirectory_1", "lst_SubDirectory_2", "Lst_FIles_1", "Lst_FIles_2"});
    EXPECT_EQ(w.PageControl1->tabBar()->font().pixelSize(), 16);

    Tfrm_Rule rule(dialogs, &w);
    rule.show();
    rule.PageControl1->setCurrentIndex(1);
    QCoreApplication::processEvents();
    ExpectFonts(&rule, {});
}

TEST_F(StartUp, BoxesOfferQtsChineseButtons)
{
    QtDialogs real;
    EXPECT_EQ(ButtonsOfNextBox([&] { EXPECT_FALSE(real.AskYesNo(nullptr, "t", "q")); }), (QStringList{U("是(Y)"), U("否(N)")}));
    EXPECT_EQ(ButtonsOfNextBox([&] { real.ShowMessage(nullptr, "t", "m"); }), QStringList{U("确定")});
    EXPECT_EQ(ButtonsOfNextBox([&] { real.ShowError(nullptr, "t", "e"); }), QStringList{U("确定")});
}

TEST_F(StartUp, FolderPickerOpensAtTheDesktopElseHomeWithNothingSelected)
{
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    testutil::WriteFile(home.path() + "/Desktop/inside/f", "x");
    testutil::WriteFile(home.path() + "/elsewhere/f", "x");
    QDir::setCurrent(home.path() + "/elsewhere");
    for (const QString& expected : {home.path() + "/Desktop", home.path()}) {
        QString shownAt, typed;
        int selected = -1;
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(picker, nullptr);
            shownAt = picker->directory().absolutePath();
            typed = picker->findChild<QLineEdit*>("fileNameEdit")->text();
            selected = int(picker->findChild<QListView*>("listView")->selectionModel()->selectedIndexes().size());
            for (QAbstractButton* b : picker->findChildren<QAbstractButton*>())
                if (b->isVisible() && !b->text().isEmpty())
                    buttons << b->text().remove(QLatin1Char('&'));
            picker->reject();
        });
        EXPECT_EQ(QtDialogs().PickFolder(nullptr, U("请选择新的文件夹"), false), std::nullopt);
        EXPECT_EQ(shownAt, expected);
        EXPECT_EQ(typed, QString());
        EXPECT_EQ(selected, 0);
        EXPECT_TRUE(buttons.contains(U("取消"))) << buttons.join(' ').toStdString();
        QDir(home.path() + "/Desktop").removeRecursively();  // no desktop folder: the home folder
    }
    qputenv("HOME", oldHome);
}

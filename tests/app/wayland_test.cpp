// The window as a Wayland client (run under a headless compositor by
// tests/release/wayland_window_test.sh; skipped elsewhere): it maps its
// window and answers the user.
#include "Dialogs.h"
#include "TestUtil.h"
#include "un_Main.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

TEST(WaylandWindow, MapsItsWindowAndAnswers)
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        GTEST_SKIP() << "needs a Wayland compositor";
    QTemporaryDir tmp;
    testutil::WriteFile(tmp.path() + "/a.txt", "a");
    ScriptedDialogs dialogs;
    Tfrm_main w(dialogs);
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 10000));
    EXPECT_EQ(w.size(), QSize(1067, 587));

    w.edt_Folder->setText(tmp.path());
    ASSERT_EQ(w.Lst_FIles_1->count(), 1);
    QTest::mouseClick(w.btn_CancelAllSelect, Qt::LeftButton);
    EXPECT_EQ(w.Lst_FIles_1->item(0)->checkState(), Qt::Unchecked);
    QTest::qWait(300);  // let the compositor show the last frame
    const QString shots = qEnvironmentVariable("VELMORA_SHOT_DIR");
    if (!shots.isEmpty()) {
        EXPECT_TRUE(w.grab().save(shots + "/wayland_page1.png"));
    }
}

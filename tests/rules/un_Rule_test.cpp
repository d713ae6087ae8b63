// The rule dialog on the offscreen platform: layout, key filter, preview and
// the fields the caller reads after each way of closing.
#include "Dialogs.h"
#include "un_Rule.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

// Types text key by key, as a keyboard (or an input method sending single
// characters) would; QTest::keyClicks only knows Latin-1 keys.
void Type(QWidget* edit, const QString& text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

class RuleDialog : public ::testing::Test {
protected:
    ScriptedDialogs boxes;
    Tfrm_Rule dlg{boxes};

    QStringList Messages() const { return boxes.Texts(ShownBox::Message); }
    void Preview() { dlg.edt_testRightButton->trigger(); }
};

TEST_F(RuleDialog, StartsAsANewDialogWithItsControls)
{
    EXPECT_EQ(dlg.windowTitle(), U("更改文件名规则"));
    EXPECT_EQ(dlg.size(), QSize(548, 395));
    EXPECT_EQ(dlg.font().pixelSize(), 16);
    const struct {
        const char* name;
        const char* caption;
    } captions[] = {{"Label1", "字符规则："}, {"Label2", "预览："}, {"Label3", "原字符："}, {"Label4", "替换字符："},
                    {"btn_Change", "确定"}, {"btn_Replace", "确定"}, {"rb_First", "只替换第一次出现的字符"},
                    {"rb_All", "替换所有相同字符"}};
    for (const auto& c : captions) {
        QWidget* w = dlg.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(w, nullptr) << c.name;
        const QString text = w->property("text").toString();
        EXPECT_EQ(text, U(c.caption)) << c.name;
    }
    EXPECT_EQ(dlg.RadioGroup1->title(), U("替换原则"));
    EXPECT_EQ(dlg.PageControl1->tabText(0), U("修改前后缀"));
    EXPECT_EQ(dlg.PageControl1->tabText(1), U("替换字符"));
    for (const char* name : {"edt_prefix", "edt_test", "edt_old", "edt_Replace", "Memo1", "TabSheet1", "TabSheet2"})
        EXPECT_NE(dlg.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_TRUE(dlg.edt_test->isReadOnly());
    EXPECT_TRUE(dlg.rb_First->isChecked());
    EXPECT_EQ(dlg.ImageList1[0].size(), QSize(32, 24));
    EXPECT_EQ(dlg.ImageList1[1].size(), QSize(32, 24));

    EXPECT_FALSE(dlg.frmclosed);
    EXPECT_EQ(dlg.replaceType, 1);
    EXPECT_EQ(dlg.ChangeType, 0);
    EXPECT_TRUE(dlg.outstrRule.preTxt.isEmpty() && dlg.outstrRule.sufText.isEmpty());
    EXPECT_EQ(dlg.outstrRule.startNumber, 0);
    EXPECT_EQ(dlg.outstrRule.interval, 0);
}

TEST_F(RuleDialog, HelpTextOpensWithItsThreeLinesAndItsExamplesFollowTheNumbering)
{
    const QStringList lines = dlg.Memo1->toPlainText().split('\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], U("     字符可以添加如下按一定规则生成字符：前缀字符+[开始数字][连"));
    EXPECT_EQ(lines[1], U("续数字间隔距离]+后缀字符。其中[是英文状态下输入字符，前缀字符"));
    EXPECT_EQ(lines[2], U("和后缀字符可以有其中一个也可以都有。"));
    EXPECT_TRUE(lines.contains(U("      前缀字符 abc，[2][2]， 生成如下文件名：abc2、abc4、abc6......")));

    // In every example the first name carries the start number, then each adds the step.
    int examples = 0;
    const QRegularExpression rule(QStringLiteral("\\[(\\d+)\\]\\[(\\d+)\\]"));
    const QRegularExpression number(QStringLiteral("\\d+"));
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(U("生成如下文件名："));
        if (colon < 0)
            continue;
        ++examples;
        const auto m = rule.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        const int start = m.captured(1).toInt(), step = m.captured(2).toInt();
        QString names = line.mid(colon + 8);
        names.remove(QStringLiteral("......"));
        const QStringList parts = names.split(U("、"));
        ASSERT_EQ(parts.size(), 3) << line.toStdString();
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(number.match(parts[k]).captured(0).toInt(), start + k * step) << line.toStdString();
    }
    EXPECT_GE(examples, 3);
}

TEST_F(RuleDialog, KeyFilterRefusesTheNineCharactersInAllThreeEdits)
{
    dlg.show();
    for (QLineEdit* edit : {dlg.edt_prefix, dlg.edt_old, dlg.edt_Replace}) {
        SCOPED_TRACE(edit->objectName().toStdString());
        boxes.shown.clear();
        edit->clear();
        Type(edit, QStringLiteral("a*/:;<>?\\|\"[1]"));
        EXPECT_EQ(edit->text(), QStringLiteral("a\"[1]"));
        const QStringList expected{U("文件名不能输入字符:*"), U("文件名不能输入字符:/"), U("文件名不能输入字符::"),
                                   U("文件名不能输入字符:;"), U("文件名不能输入字符:<"), U("文件名不能输入字符:>"),
                                   U("文件名不能输入字符:?"), U("文件名不能输入字符:\\"), U("文件名不能输入字符:|")};
        EXPECT_EQ(Messages(), expected);
        for (const ShownBox& box : boxes.shown)
            EXPECT_EQ(box.caption, ApplicationTitle());
        QTest::keyClick(edit, Qt::Key_Backspace);
        Type(edit, U("中文；"));
        EXPECT_EQ(edit->text(), U("a\"[1中文；"));
    }
}

TEST_F(RuleDialog, PreviewShowsThreeNamesOrTheError)
{
    const struct {
        const char* rule;
        const char* preview;
        const char* message;  // nullptr: no box
    } cases[] = {
        {"abc[2][2]", "abc2,abc4,abc6", nullptr},
        {"[1][2]_保密", "1_保密,3_保密,5_保密", nullptr},
        {"5][2]", "5,7,9", nullptr},
        {"[2147483647][1]", "2147483647,-2147483648,-2147483647", nullptr},
        {"［1］［2］", "", "发生如下错误：[][]输入不符合规定，可能输入为英文格式，也有可能输入不配套。"},
        {"[1a][2]", "", "发生如下错误：前一个[]中有非法数字"},
        {"[1][-2]", "", "发生如下错误：后一个[]中有非法数字"},
        {"x[][2]", "", "“”不是有效的整数值"},
        {"[3000000000][2]", "", "“3000000000”不是有效的整数值"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        boxes.shown.clear();
        dlg.edt_test->setText("stale");
        dlg.edt_prefix->setText(U(c.rule));
        Preview();
        EXPECT_EQ(dlg.edt_test->text(), U(c.preview));
        EXPECT_EQ(Messages(), c.message ? QStringList{U(c.message)} : QStringList{});
    }
    EXPECT_EQ(dlg.ChangeType, 0);  // previewing confirms nothing
}

TEST_F(RuleDialog, NumberedRuleConfirmedClosesWithChangeTypeOne)
{
    dlg.show();
    dlg.PageControl1->setCurrentIndex(0);
    dlg.edt_prefix->setText("img[10][5].x");
    QTest::mouseClick(dlg.btn_Change, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.frmclosed);
    EXPECT_EQ(dlg.ChangeType, 1);
    EXPECT_EQ(dlg.outstrRule.preTxt, "img");
    EXPECT_EQ(dlg.outstrRule.sufText, ".x");
    EXPECT_EQ(dlg.outstrRule.startNumber, 10);
    EXPECT_EQ(dlg.outstrRule.interval, 5);
    EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(RuleDialog, NumberedRuleThatFailsKeepsTheDialogOpen)
{
    dlg.show();
    for (const char* rule : {"[1] [2]", "[][1]", "[1][99999999999]"}) {
        dlg.edt_prefix->setText(U(rule));
        dlg.btn_Change->click();
        EXPECT_TRUE(dlg.isVisible()) << rule;
    }
    EXPECT_EQ(Messages().size(), 3);
    EXPECT_EQ(dlg.ChangeType, 0);
    EXPECT_FALSE(dlg.frmclosed);
}

// Pasted text passes the key filter; OK must still refuse it, or a "/" would
// move files into other folders.
TEST_F(RuleDialog, PastedForbiddenCharactersAreRefusedOnOk)
{
    dlg.show();
    dlg.edt_prefix->insert("../[1][1]");
    EXPECT_TRUE(Messages().isEmpty());
    dlg.btn_Change->click();
    EXPECT_EQ(Messages(), QStringList{U("文件名不能输入字符:/")});
    EXPECT_TRUE(dlg.isVisible());

    dlg.PageControl1->setCurrentIndex(1);
    dlg.edt_old->insert("a");
    dlg.edt_Replace->insert(QString("b") + QChar(0) + "c");
    dlg.btn_Replace->click();
    EXPECT_EQ(Messages().size(), 2);
    EXPECT_EQ(Messages().back(), U("文件名不能输入字符:") + QChar(0));
    dlg.edt_Replace->setText("x:y");
    dlg.btn_Replace->click();
    EXPECT_EQ(Messages().back(), U("文件名不能输入字符::"));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.ChangeType, 0);
    EXPECT_EQ(dlg.replaceType, 0);
    EXPECT_TRUE(dlg.oldstr.isEmpty());
}

TEST_F(RuleDialog, ReplaceRuleConfirmedTakesTheTextsAsTyped)
{
    dlg.show();
    dlg.PageControl1->setCurrentIndex(1);
    dlg.edt_old->setText(" IMG ");
    dlg.edt_Replace->setText("pic");
    dlg.rb_All->setChecked(true);
    dlg.btn_Replace->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.frmclosed);
    EXPECT_EQ(dlg.ChangeType, 2);
    EXPECT_EQ(dlg.replaceType, 2);
    EXPECT_EQ(dlg.oldstr, " IMG ");
    EXPECT_EQ(dlg.replacestr, "pic");
}

TEST_F(RuleDialog, ReplaceRuleWithAnEmptyFieldDoesNothing)
{
    dlg.show();
    dlg.edt_old->setText("IMG");
    dlg.btn_Replace->click();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(Messages().isEmpty());
    EXPECT_EQ(dlg.ChangeType, 0);
    EXPECT_EQ(dlg.replaceType, 0);
    dlg.edt_Replace->setText("pic");
    dlg.btn_Replace->click();
    EXPECT_EQ(dlg.replaceType, 1);  // the first occurrence, as rb_First is checked
}

TEST_F(RuleDialog, CloseBoxAndEscapeConfirmNothing)
{
    dlg.show();
    dlg.edt_prefix->setText("[1][1]");
    Preview();
    dlg.close();
    EXPECT_TRUE(dlg.frmclosed);
    EXPECT_EQ(dlg.ChangeType, 0);
    EXPECT_EQ(dlg.outstrRule.startNumber, 1);  // the preview wrote it, nothing confirmed it

    ScriptedDialogs other;
    Tfrm_Rule second(other);
    second.show();
    QTest::keyClick(second.edt_prefix, Qt::Key_Escape);
    EXPECT_FALSE(second.isVisible());
    EXPECT_TRUE(second.frmclosed);
    EXPECT_EQ(second.ChangeType, 0);
}

TEST_F(RuleDialog, OpensOnTheFirstPageWithTheFocusInItsEditButKeepsThePageWhenFocusReturns)
{
    dlg.PageControl1->setCurrentIndex(1);
    dlg.show();
    EXPECT_EQ(dlg.PageControl1->currentIndex(), 0);
    EXPECT_EQ(dlg.focusWidget(), dlg.edt_prefix);  // typing at once goes into the rule

    dlg.PageControl1->setCurrentIndex(1);
    QTest::keyClick(dlg.edt_old, ';');  // a message box opens and closes
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&dlg, &activate);
    EXPECT_EQ(dlg.PageControl1->currentIndex(), 1);

    dlg.hide();
    dlg.show();
    EXPECT_EQ(dlg.PageControl1->currentIndex(), 0);
    EXPECT_EQ(dlg.focusWidget(), dlg.edt_prefix);
}

TEST_F(RuleDialog, ModalDisplayReturnsWhenOkCloses)
{
    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<Tfrm_Rule*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        shown->edt_prefix->setText("n[1][1]");
        QTest::mouseClick(shown->btn_Change, Qt::LeftButton);
    });
    dlg.exec();
    EXPECT_TRUE(dlg.frmclosed);
    EXPECT_EQ(dlg.ChangeType, 1);
    EXPECT_EQ(dlg.outstrRule.preTxt, "n");
}

}  // namespace

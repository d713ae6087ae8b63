// What a screen reader hears: every control of both pages and of the rule
// dialog has a Chinese name, read through QAccessible as assistive tools read it.
#include "Dialogs.h"
#include "StartUp.h"
#include "un_Main.h"
#include "un_Rule.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include "ProgressBar.h"
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabBar>
#include <gtest/gtest.h>

namespace {

QString SpokenName(QObject* object)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QString();
}

bool IsControl(QWidget* w)
{
    return qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractItemView*>(w)
           || qobject_cast<QProgressBar*>(w) || qobject_cast<QPlainTextEdit*>(w)
           || w->objectName() == QLatin1String("StaticText1");
}

// Every control below root, and every tab of its tab bars, has a name with Chinese in it.
void ExpectEveryControlNamed(QWidget* root)
{
    static const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (IsControl(w)) {
            EXPECT_TRUE(SpokenName(w).contains(chinese))
                << w->metaObject()->className() << " " << w->objectName().toStdString() << " in "
                << w->parentWidget()->objectName().toStdString() << ": \"" << SpokenName(w).toStdString() << '"';
        }
        if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tabs);
            for (int i = 0; bar && i < bar->childCount(); ++i)
                if (bar->child(i)->role() == QAccessible::PageTab) {
                    EXPECT_TRUE(bar->child(i)->text(QAccessible::Name).contains(chinese)) << "tab " << i;
                }
        }
    }
}

}  // namespace

TEST(ScreenReaders, EveryControlHasAChineseNameAndEditsAndListsTheirLabelsWords)
{
    ASSERT_TRUE(LoadQtChinese());  // as start-up does: Qt's own controls (the tabs' scroll buttons) speak Chinese too
    ScriptedDialogs dialogs;
    Tfrm_main w(dialogs);
    Tfrm_Rule rule(dialogs);
    const std::pair<QWidget*, const char*> named[] = {
        {w.edt_Folder, "目录"},        {w.edt_Folder_2, "目录"},        {w.edt_Password, "密钥"},
        {w.edt_Password_2, "密钥"},    {w.lst_SubDirectory_1, "子文件夹"}, {w.lst_SubDirectory_2, "子文件夹"},
        {w.Lst_FIles_1, "文件"},       {w.Lst_FIles_2, "文件"},       {w.ProgressBar, "进度"},
        {w.StaticText1, "状态"},       {w.btn_ZipFolder, "压缩文件夹(含子文件夹)"}, {w.btn_Stop_2, "停止"},
        {rule.edt_prefix, "字符规则"}, {rule.edt_test, "预览"},       {rule.edt_old, "原字符"},
        {rule.edt_Replace, "替换字符"}, {rule.btn_Replace, "确定"},
    };
    for (const auto& [widget, name] : named)
        EXPECT_EQ(SpokenName(widget), QString::fromUtf8(name)) << widget->objectName().toStdString();
    ExpectEveryControlNamed(&w);
    ExpectEveryControlNamed(&rule);
}

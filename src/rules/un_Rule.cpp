#include "un_Rule.h"
#include "WidgetMaking.h"

#include "Dialogs.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>

namespace {

const QString kRefusedChar = QStringLiteral("文件名不能输入字符:");
const QString kErrorFollows = QStringLiteral("发生如下错误：");

// The help text: the rule language and examples whose first name carries the
// start number itself, as the numbering does.
const char* const kHelpLines[] = {
    "     字符可以添加如下按一定规则生成字符：前缀字符+[开始数字][连",
    "续数字间隔距离]+后缀字符。其中[是英文状态下输入字符，前缀字符",
    "和后缀字符可以有其中一个也可以都有。",
    "      前缀字符 abc，[2][2]， 生成如下文件名：abc2、abc4、abc6......",
    "      [1][2]，后缀字符 _保密， 生成如下文件名：1_保密、3_保密、5_保密......",
    "      前缀字符 pic，[1][1]，后缀字符 .bak， 生成如下文件名：pic1.bak、pic2.bak、pic3.bak......",
    "      [100][1]， 生成如下文件名：100、101、102......",
    "      文件原有的扩展名保持不变，点击预览框右边的按钮可以查看前三个文件名。",
};


// The preview button's image: a small eye, drawn rather than shipped.
QPixmap PreviewImage(bool pressed)
{
    QPixmap image(32, 24);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = pressed ? QColor(0, 150, 170) : QColor(0, 200, 220);
    p.setPen(QPen(ink, 2));
    p.drawEllipse(QRectF(5, 6, 22, 12));
    p.setBrush(ink);
    p.drawEllipse(QRectF(12.5, 8.5, 7, 7));
    return image;
}

}  // namespace

Tfrm_Rule::Tfrm_Rule(IDialogs& dialogs, QWidget* owner) : QDialog(owner), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("frm_Rule"));
    BuildForm();
    FormCreate();
}

Tfrm_Rule::~Tfrm_Rule() = default;

void Tfrm_Rule::BuildForm()
{
    setWindowTitle(QStringLiteral("更改文件名规则"));
    setFont(TahomaPx(16));
    setFixedSize(548, 395);
    setSizeGripEnabled(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    ImageList1[0] = PreviewImage(false);
    ImageList1[1] = PreviewImage(true);

    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(0, 0, 548, 395);
    TabSheet1 = BuildRulePage();
    TabSheet2 = BuildReplacePage();
    PageControl1->addTab(TabSheet1, QStringLiteral("修改前后缀"));
    PageControl1->addTab(TabSheet2, QStringLiteral("替换字符"));

    for (QLineEdit* edit : {edt_prefix, edt_old, edt_Replace})
        edit->installEventFilter(this);
    connect(edt_testRightButton, &QAction::triggered, this, [this] { edt_testRightButtonClick(); });
    connect(btn_Change, &QPushButton::clicked, this, [this] { btn_ChangeClick(); });
    connect(btn_Replace, &QPushButton::clicked, this, [this] { btn_ReplaceClick(); });
}

QWidget* Tfrm_Rule::BuildRulePage()
{
    auto* page = Named(new QWidget(PageControl1), "TabSheet1");
    Memo1 = Spoken(Named(new QPlainTextEdit(page), "Memo1"), QStringLiteral("规则说明"));
    Memo1->setGeometry(8, 8, 524, 196);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QStringList help;
    for (const char* line : kHelpLines)
        help << QString::fromUtf8(line);
    Memo1->setPlainText(help.join(QLatin1Char('\n')));

    Label1 = Named(new QLabel(QStringLiteral("字符规则："), page), "Label1");
    Label1->setGeometry(8, 222, 90, 26);
    edt_prefix = Spoken(Named(new QLineEdit(page), "edt_prefix"), QStringLiteral("字符规则"));
    edt_prefix->setGeometry(100, 220, 420, 28);
    Label2 = Named(new QLabel(QStringLiteral("预览："), page), "Label2");
    Label2->setGeometry(8, 262, 90, 26);
    edt_test = Spoken(Named(new QLineEdit(page), "edt_test"), QStringLiteral("预览"));
    edt_test->setGeometry(100, 258, 420, 32);
    edt_test->setReadOnly(true);
    QIcon icon(ImageList1[0]);
    icon.addPixmap(ImageList1[1], QIcon::Active);
    icon.addPixmap(ImageList1[1], QIcon::Selected);
    edt_testRightButton = edt_test->addAction(icon, QLineEdit::TrailingPosition);
    edt_testRightButton->setObjectName(QStringLiteral("edt_testRightButton"));
    edt_testRightButton->setText(QStringLiteral("查看前三个文件名"));  // what a screen reader says for the icon
    btn_Change = Named(new QPushButton(QStringLiteral("确定"), page), "btn_Change");
    btn_Change->setGeometry(224, 306, 100, 30);
    btn_Change->setAutoDefault(false);
    return page;
}

QWidget* Tfrm_Rule::BuildReplacePage()
{
    auto* page = Named(new QWidget(PageControl1), "TabSheet2");
    Label3 = Named(new QLabel(QStringLiteral("原字符："), page), "Label3");
    Label3->setGeometry(24, 32, 100, 26);
    edt_old = Spoken(Named(new QLineEdit(page), "edt_old"), QStringLiteral("原字符"));
    edt_old->setGeometry(124, 30, 380, 28);
    Label4 = Named(new QLabel(QStringLiteral("替换字符："), page), "Label4");
    Label4->setGeometry(24, 76, 100, 26);
    edt_Replace = Spoken(Named(new QLineEdit(page), "edt_Replace"), QStringLiteral("替换字符"));
    edt_Replace->setGeometry(124, 74, 380, 28);
    RadioGroup1 = Named(new QGroupBox(QStringLiteral("替换原则"), page), "RadioGroup1");
    RadioGroup1->setGeometry(24, 120, 480, 110);
    rb_First = Named(new QRadioButton(QStringLiteral("只替换第一次出现的字符"), RadioGroup1), "rb_First");
    rb_First->setGeometry(20, 32, 440, 28);
    rb_First->setChecked(true);
    rb_All = Named(new QRadioButton(QStringLiteral("替换所有相同字符"), RadioGroup1), "rb_All");
    rb_All->setGeometry(20, 68, 440, 28);
    btn_Replace = Named(new QPushButton(QStringLiteral("确定"), page), "btn_Replace");
    btn_Replace->setGeometry(224, 260, 100, 30);
    btn_Replace->setAutoDefault(false);
    return page;
}

void Tfrm_Rule::FormCreate()
{
    frmclosed = false;
    replaceType = 1;
}

void Tfrm_Rule::FormActivate()
{
    PageControl1->setCurrentIndex(0);
    // Typing goes straight into the first edit of the page shown, not to the tab bar.
    (PageControl1->currentIndex() == 0 ? edt_prefix : edt_old)->setFocus(Qt::ActiveWindowFocusReason);
}

void Tfrm_Rule::FormClose()
{
    frmclosed = true;
}

void Tfrm_Rule::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Each time the dialog is shown, not each time it regains the focus: a
    // message box closing must not throw the user back to the first page.
    if (!event->spontaneous())
        FormActivate();
}

void Tfrm_Rule::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
    done(QDialog::Rejected);  // hidden, not freed: the caller reads the fields
}

void Tfrm_Rule::reject()
{
    // Escape closes like the close box, so the close handler always runs.
    close();
}

void Tfrm_Rule::Message(const QString& text)
{
    dialogs_.ShowMessage(this, ApplicationTitle(), text);
}

bool Tfrm_Rule::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        for (QChar key : typed) {
            edt_prefixKeyPress(watched, key);
            if (key.isNull())
                return true;  // the key is discarded
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Tfrm_Rule::edt_prefixKeyPress(QObject*, QChar& Key)
{
    if (!IsRefusedNameChar(Key))
        return;
    Message(kRefusedChar + Key);
    Key = QChar();
}

bool Tfrm_Rule::NameTextAllowed(const QString& text)
{
    QChar bad;
    if (!FirstForbiddenNameChar(text, bad))
        return true;
    Message(kRefusedChar + bad);
    return false;
}

bool Tfrm_Rule::CheckRule(const QString& rule)
{
    return ::CheckRule(rule, err);
}

bool Tfrm_Rule::ParseRule(const QString& rule, strRule& out)
{
    return ::ParseRule(rule, out, err);
}

bool Tfrm_Rule::TakeRule()
{
    const QString rule = edt_prefix->text();
    if (!CheckRule(rule)) {
        Message(kErrorFollows + err);
        return false;
    }
    // A bracket that does not convert stops here: going on would number files
    // with a value nobody typed.
    if (!ParseRule(rule, outstrRule)) {
        Message(err);
        return false;
    }
    return true;
}

void Tfrm_Rule::edt_testRightButtonClick()
{
    edt_test->clear();
    if (!TakeRule())
        return;
    edt_test->setText(RuleName(outstrRule, 0) + QLatin1Char(',') + RuleName(outstrRule, 1) + QLatin1Char(',')
                      + RuleName(outstrRule, 2));
}

void Tfrm_Rule::btn_ChangeClick()
{
    // Typed keys are filtered, pasted text is not: check the whole text.
    if (!NameTextAllowed(edt_prefix->text()) || !TakeRule())
        return;
    ChangeType = 1;
    close();
}

void Tfrm_Rule::btn_ReplaceClick()
{
    oldstr.clear();
    replacestr.clear();
    replaceType = 0;
    if (edt_old->text().isEmpty() || edt_Replace->text().isEmpty())
        return;
    if (!NameTextAllowed(edt_old->text()) || !NameTextAllowed(edt_Replace->text()))
        return;
    replaceType = rb_First->isChecked() ? 1 : 2;
    oldstr = edt_old->text();
    replacestr = edt_Replace->text();
    ChangeType = 2;
    close();
}

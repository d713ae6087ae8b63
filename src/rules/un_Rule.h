#pragma once
// The rename rule dialog: a numbered-name rule on its first page, a replace
// rule on its second. It touches no file; the caller reads its fields once it
// has closed.

#include "RuleLanguage.h"

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <cstdint>

class IDialogs;
class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QWidget;

class Tfrm_Rule : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_Rule(IDialogs& dialogs, QWidget* owner = nullptr);
    ~Tfrm_Rule() override;

    // The dialog's result, read by the caller after it has closed.
    strRule outstrRule;
    std::int32_t ChangeType = 0;  // 0 closed unconfirmed, 1 numbered names, 2 replace
    QString oldstr;
    QString replacestr;
    std::int32_t replaceType = 0;  // 1 first occurrence, 2 every occurrence, 0 not set
    QString err;
    bool frmclosed = false;

    // Controls, named as their objectName.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edt_prefix = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edt_test = nullptr;
    QAction* edt_testRightButton = nullptr;
    QPushButton* btn_Change = nullptr;
    QWidget* TabSheet2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* edt_old = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* edt_Replace = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QRadioButton* rb_First = nullptr;
    QRadioButton* rb_All = nullptr;
    QPushButton* btn_Replace = nullptr;
    // The preview button's two images: normal and pressed.
    QPixmap ImageList1[2];

    void FormCreate();
    void FormActivate();
    void FormClose();
    // Key filter of the three edits: a refused character is reported and Key
    // becomes the null character, which discards the key.
    void edt_prefixKeyPress(QObject* Sender, QChar& Key);
    void edt_testRightButtonClick();
    void btn_ChangeClick();
    void btn_ReplaceClick();

    // The dialog's own rule check and parse, on the plain functions.
    bool CheckRule(const QString& rule);
    bool ParseRule(const QString& rule, strRule& out);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void BuildForm();
    QWidget* BuildRulePage();
    QWidget* BuildReplacePage();
    void Message(const QString& text);
    // Checks the whole text of an edit, pasted parts included, before it names files.
    bool NameTextAllowed(const QString& text);
    // Checks and parses the rule of edt_prefix into outstrRule, reporting a failure.
    bool TakeRule();

    IDialogs& dialogs_;
};

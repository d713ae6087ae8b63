#pragma once
// The dialog seam: every modal interaction of the program goes through IDialogs,
// so the program shows real Qt boxes and the tests answer them from a script.

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

// The title every plain box and failure report carries.
QString ApplicationTitle();

// Where the folder picker opens: the user's desktop folder, else the home folder.
QString PickerStartFolder();

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Plain notice with one OK button. details, when given, is offered behind
    // the box's details button (scrollable and copyable): a long list goes there.
    virtual void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                             const QString& details = {}) = 0;
    // Question with Yes and No and no icon; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
    // Error icon and one OK button; details as for ShowMessage.
    virtual void ShowError(QWidget* parent, const QString& caption, const QString& text,
                           const QString& details = {}) = 0;
    // Folder picker; nothing when cancelled.
    virtual std::optional<QString> PickFolder(QWidget* parent, const QString& caption, bool offerNewFolder) = 0;
    // Save dialog; filter in the form "*.zip|*.zip"; nothing when cancelled.
    virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& filter) = 0;
    // Password box: the text asks for it, the typing is not shown; nothing when cancelled.
    virtual std::optional<QString> AskPassword(QWidget* parent, const QString& caption, const QString& text) = 0;
};

class QtDialogs final : public IDialogs {
public:
    void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                     const QString& details = {}) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    void ShowError(QWidget* parent, const QString& caption, const QString& text,
                   const QString& details = {}) override;
    std::optional<QString> PickFolder(QWidget* parent, const QString& caption, bool offerNewFolder) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& filter) override;
    std::optional<QString> AskPassword(QWidget* parent, const QString& caption, const QString& text) override;
};

struct ShownBox {
    enum Kind { Message, YesNo, Error, PickFolder, SaveFile, Password };
    Kind kind = Message;
    QString caption;  // caption of a box, caption of a picker, title of a save dialog
    QString text;     // text of a box; filter of a save dialog
    bool offerNewFolder = false;
    QString details;  // the details of a box, empty when it has none
};

// Answers from queues and records every box, in order. An empty queue answers
// Yes to a question and cancels a picker or save dialog.
class ScriptedDialogs final : public IDialogs {
public:
    std::deque<bool> yesNoAnswers;
    std::deque<std::optional<QString>> folderAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    std::deque<std::optional<QString>> passwordAnswers;  // empty: cancelled
    std::vector<ShownBox> shown;
    // Runs while a box is "open", after it has been recorded.
    std::function<void(const ShownBox&)> onShow;

    void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                     const QString& details = {}) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    void ShowError(QWidget* parent, const QString& caption, const QString& text,
                   const QString& details = {}) override;
    std::optional<QString> PickFolder(QWidget* parent, const QString& caption, bool offerNewFolder) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& filter) override;
    std::optional<QString> AskPassword(QWidget* parent, const QString& caption, const QString& text) override;

    // Texts of the boxes of one kind, in the order shown.
    QStringList Texts(ShownBox::Kind kind) const;

private:
    void Record(ShownBox box);
};

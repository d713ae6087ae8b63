#include "Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>
#include <QTimer>
#include <algorithm>

QString ApplicationTitle()
{
    return QStringLiteral("Velmora文件夹工具V1.0");
}

namespace {

// A line shortened in its middle, so both ends of a long path stay readable.
QString Shortened(const QString& line, int length)
{
    if (line.size() <= length)
        return line;
    const int half = (length - 1) / 2;
    return line.left(half) + QChar(0x2026) + line.right(length - 1 - half);
}

// The height the box takes on the screen, its title bar included (before the
// window manager has framed it, a title bar's worth is allowed for).
int FrameHeight(const QMessageBox& box)
{
    return std::max(box.frameGeometry().height(), box.height() + 40);
}

// No box is taller than the screen, or its OK button could not be reached:
// long lines are shortened in the middle, more and more, then lines are left
// out before the last one (the count of the others); the details (all of the
// text when there were none) keep everything. Runs once the box is shown,
// when it has taken its real size.
void FitToScreen(QMessageBox& box, const QString& text, const QString& details)
{
    const QRect screen = box.screen()->availableGeometry();
    if (FrameHeight(box) <= screen.height())
        return;
    if (details.isEmpty())
        box.setDetailedText(text);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (const int length : {120, 60, 30}) {
        QStringList shortened;
        for (const QString& line : lines)
            shortened << Shortened(line, length);
        box.setText(shortened.join(QLatin1Char('\n')));
        if (FrameHeight(box) <= screen.height())
            break;
        lines = shortened;
    }
    while (lines.size() > 4 && FrameHeight(box) > screen.height()) {
        lines.remove(lines.size() / 2, (lines.size() - 1) / 2);
        lines.insert(lines.size() - 1, QStringLiteral("……"));
        box.setText(lines.join(QLatin1Char('\n')));
    }
    const int top = screen.top() + std::max(0, (screen.height() - FrameHeight(box)) / 2);
    box.move(box.x(), top);
}

int Run(QMessageBox::Icon icon, QWidget* parent, const QString& caption, const QString& text,
        const QString& details, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    QTimer::singleShot(0, &box, [&box, text, details] { FitToScreen(box, text, details); });
    return box.exec();
}

}  // namespace

void QtDialogs::ShowMessage(QWidget* parent, const QString& caption, const QString& text, const QString& details)
{
    Run(QMessageBox::NoIcon, parent, caption, text, details, QMessageBox::Ok);
}

bool QtDialogs::AskYesNo(QWidget* parent, const QString& caption, const QString& text)
{
    return Run(QMessageBox::NoIcon, parent, caption, text, {}, QMessageBox::Yes | QMessageBox::No) != QMessageBox::No;
}

void QtDialogs::ShowError(QWidget* parent, const QString& caption, const QString& text, const QString& details)
{
    Run(QMessageBox::Critical, parent, caption, text, details, QMessageBox::Ok);
}

std::optional<QString> QtDialogs::AskPassword(QWidget* parent, const QString& caption, const QString& text)
{
    bool ok = false;
    const QString password = QInputDialog::getText(parent, caption, text, QLineEdit::Password, {}, &ok);
    if (!ok)
        return std::nullopt;
    return password;
}

QString PickerStartFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

std::optional<QString> QtDialogs::PickFolder(QWidget* parent, const QString& caption, bool offerNewFolder)
{
    // The tree starts at the user's desktop with nothing selected, whatever the program's working folder.
    QFileDialog dialog(parent, caption, PickerStartFolder());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, !offerNewFolder);  // read-only hides the new-folder button
    dialog.setLabelText(QFileDialog::LookIn, caption);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::SaveFileName(QWidget* parent, const QString& title, const QString& filter)
{
    // "*.zip|*.zip" is description|pattern; Qt wants "description (pattern)".
    const QStringList parts = filter.split(QLatin1Char('|'));
    const QString qtFilter = parts.size() >= 2 ? parts[0] + QStringLiteral(" (") + parts[1] + QLatin1Char(')') : filter;
    QFileDialog dialog(parent, title, QString(), qtFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

namespace {

// The next answer of a queue, or fallback when the script has run out.
template <typename T>
T TakeAnswer(std::deque<T>& answers, T fallback)
{
    if (answers.empty())
        return fallback;
    // The front is copied into the result before the guard drops it.
    struct PopFront {
        std::deque<T>& q;
        ~PopFront() { q.pop_front(); }
    } pop{answers};
    return answers.front();
}

}  // namespace

void ScriptedDialogs::Record(ShownBox box)
{
    shown.push_back(box);
    if (onShow)
        onShow(shown.back());
}

void ScriptedDialogs::ShowMessage(QWidget*, const QString& caption, const QString& text, const QString& details)
{
    Record({ShownBox::Message, caption, text, false, details});
}

bool ScriptedDialogs::AskYesNo(QWidget*, const QString& caption, const QString& text)
{
    Record({ShownBox::YesNo, caption, text, false, {}});
    return TakeAnswer(yesNoAnswers, true);
}

void ScriptedDialogs::ShowError(QWidget*, const QString& caption, const QString& text, const QString& details)
{
    Record({ShownBox::Error, caption, text, false, details});
}

std::optional<QString> ScriptedDialogs::PickFolder(QWidget*, const QString& caption, bool offerNewFolder)
{
    Record({ShownBox::PickFolder, caption, QString(), offerNewFolder, {}});
    return TakeAnswer<std::optional<QString>>(folderAnswers, std::nullopt);
}

std::optional<QString> ScriptedDialogs::SaveFileName(QWidget*, const QString& title, const QString& filter)
{
    Record({ShownBox::SaveFile, title, filter, false, {}});
    return TakeAnswer<std::optional<QString>>(saveAnswers, std::nullopt);
}

std::optional<QString> ScriptedDialogs::AskPassword(QWidget*, const QString& caption, const QString& text)
{
    Record({ShownBox::Password, caption, text, false, {}});
    return TakeAnswer<std::optional<QString>>(passwordAnswers, std::nullopt);
}

QStringList ScriptedDialogs::Texts(ShownBox::Kind kind) const
{
    QStringList texts;
    for (const auto& box : shown)
        if (box.kind == kind)
            texts << box.text;
    return texts;
}

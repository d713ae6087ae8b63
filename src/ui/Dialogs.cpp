#include "Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStringList>

QString ApplicationTitle()
{
    return QStringLiteral("Velmora文件夹工具V1.0");
}

void QtDialogs::ShowMessage(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDialogs::AskYesNo(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() != QMessageBox::No;
}

void QtDialogs::ShowError(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    box.exec();
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

void ScriptedDialogs::Record(ShownBox box)
{
    shown.push_back(box);
    if (onShow)
        onShow(shown.back());
}

void ScriptedDialogs::ShowMessage(QWidget*, const QString& caption, const QString& text)
{
    Record({ShownBox::Message, caption, text, false});
}

bool ScriptedDialogs::AskYesNo(QWidget*, const QString& caption, const QString& text)
{
    Record({ShownBox::YesNo, caption, text, false});
    if (yesNoAnswers.empty())
        return true;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

void ScriptedDialogs::ShowError(QWidget*, const QString& caption, const QString& text)
{
    Record({ShownBox::Error, caption, text, false});
}

std::optional<QString> ScriptedDialogs::PickFolder(QWidget*, const QString& caption, bool offerNewFolder)
{
    Record({ShownBox::PickFolder, caption, QString(), offerNewFolder});
    if (folderAnswers.empty())
        return std::nullopt;
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

std::optional<QString> ScriptedDialogs::SaveFileName(QWidget*, const QString& title, const QString& filter)
{
    Record({ShownBox::SaveFile, title, filter, false});
    if (saveAnswers.empty())
        return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

QStringList ScriptedDialogs::Texts(ShownBox::Kind kind) const
{
    QStringList texts;
    for (const auto& box : shown)
        if (box.kind == kind)
            texts << box.text;
    return texts;
}

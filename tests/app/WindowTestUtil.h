#pragma once
// Helpers the window tests share: the lists' context menu, opened as a right
// click would open it and answered in place, and runs of velmora-cli.
#include "un_Main.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <ostream>

namespace windowtest {

struct MenuEntry {
    QString text;
    bool enabled;
    bool operator==(const MenuEntry&) const = default;
    friend void PrintTo(const MenuEntry& e, std::ostream* os) { *os << e.text.toStdString() << (e.enabled ? "" : " (greyed)"); }
};

// velmora-cli as the tests run it: its path, and one run with its status and output.
inline QString Cli()
{
    return qEnvironmentVariable("VELMORA_CLI");
}

struct CliResult {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

inline CliResult RunCli(const QStringList& args, const QByteArray& input = {}, const QString& workingFolder = {},
                        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setWorkingDirectory(workingFolder);
    p.setProcessEnvironment(env);
    p.start(Cli(), args);
    p.waitForStarted();
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// Right-clicks row of list (-1: the empty space below the last entry), lists the
// menu's entries and triggers the one named trigger, if any (a greyed entry,
// as for the user, does nothing).
inline QList<MenuEntry> RightClick(Tfrm_main& w, QListWidget* list, int row, const QString& trigger = {})
{
    QList<MenuEntry> entries;
    w.contextMenuHook = [&](QMenu& menu) {
        for (QAction* action : menu.actions())
            if (!action->isSeparator())
                entries.append({action->text(), action->isEnabled()});
        for (QAction* action : menu.actions())
            if (!trigger.isEmpty() && action->text() == trigger)
                action->trigger();
    };
    const QPoint pos = row >= 0 ? list->visualItemRect(list->item(row)).center()
                       : list->count() > 0 ? QPoint(4, list->visualItemRect(list->item(list->count() - 1)).bottom() + 6)
                                           : QPoint(4, 4);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);
    QApplication::processEvents();  // the chosen entry runs once the menu is done
    w.contextMenuHook = {};
    return entries;
}

}  // namespace windowtest

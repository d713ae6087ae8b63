#pragma once
// A page's checkable list as the entries of a batch: the count taken when the
// batch starts, each entry's text and check mark read when the walk reaches it.

#include "BatchRun.h"

#include <QListWidget>
#include <functional>

// The folder a page's file list shows (the one all its entries lie in),
// below which its checked files are read; empty for an empty list.
inline QString ListFolder(const QListWidget* list)
{
    QString folder = list->count() > 0 ? FolderPart(list->item(0)->text()) : QString();
    for (int i = 1; i < list->count() && !folder.isEmpty(); ++i) {
        const QString path = list->item(i)->text();
        while (!folder.isEmpty() && !path.startsWith(folder))
            folder = FolderPart(folder.chopped(1));
    }
    return folder;
}

// Where the checked files of a page's list are read.
inline batch::Sources ListSources(const QListWidget* list)
{
    const QString folder = ListFolder(list);
    return folder.isEmpty() ? batch::Sources() : batch::Sources(folder);
}

inline batch::Entries CheckedEntries(const QListWidget* list, std::function<bool(const QString&)> keep = {})
{
    return {list->count(), [list, keep](qsizetype i) -> std::optional<QString> {
                const QListWidgetItem* entry = list->item(static_cast<int>(i));
                if (!entry || entry->checkState() != Qt::Checked || (keep && !keep(entry->text())))
                    return std::nullopt;
                return entry->text();
            }};
}

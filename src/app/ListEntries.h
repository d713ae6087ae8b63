#pragma once
// A page's checkable list as the entries of a batch: the count taken when the
// batch starts, each entry's text and check mark read when the walk reaches it.

#include "BatchRun.h"

#include <QListWidget>
#include <functional>

inline batch::Entries CheckedEntries(const QListWidget* list, std::function<bool(const QString&)> keep = {})
{
    return {list->count(), [list, keep](qsizetype i) -> std::optional<QString> {
                const QListWidgetItem* entry = list->item(static_cast<int>(i));
                if (!entry || entry->checkState() != Qt::Checked || (keep && !keep(entry->text())))
                    return std::nullopt;
                return entry->text();
            }};
}

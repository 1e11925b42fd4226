#include "dialogs/VersionTable.h"

#include <QHeaderView>
#include <QTableView>

#include <algorithm>

namespace VersionTable {

void setUp(QTableView* table, const QString& name, QAbstractItemModel* model,
           QAbstractItemView::SelectionMode selection, const std::vector<int>& widths) {
    table->setObjectName(name);
    if (table->model() != model) // a table widget keeps its own
        table->setModel(model);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(selection);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(18);
    QHeaderView* header = table->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(true);
    for (int column = 0; column < static_cast<int>(widths.size()); ++column)
        table->setColumnWidth(column, std::max(widths[static_cast<std::size_t>(column)],
                                               header->sectionSizeHint(column)));
}

} // namespace VersionTable

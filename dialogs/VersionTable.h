#pragma once

#include <QAbstractItemView>
#include <QString>

#include <vector>

class QAbstractItemModel;
class QTableView;

// A table of versions as the history windows show it: whole rows selected, one line a row, no
// editing, the columns at least as wide as the layout gives them and as their titles need.
namespace VersionTable {

void setUp(QTableView* table, const QString& name, QAbstractItemModel* model,
           QAbstractItemView::SelectionMode selection, const std::vector<int>& widths);

} // namespace VersionTable

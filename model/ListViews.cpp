#include "model/ListViews.h"

#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "shell/uGeneral.h"

#include <array>
#include <utility>

namespace ListViews {

namespace {

// A text placed between single quotes of an expression: a quote inside is doubled, which the
// expression language reads back as one quote.
QString Quoted(const QString& text) {
    QString inner = text;
    inner.replace(u'\'', QStringLiteral("''"));
    return u'\'' + inner + u'\'';
}

struct OrderRow {
    const QString& choice;
    const QString& indexName;
    const QString& field; // empty: no column selects it
};

const std::array<OrderRow, 10>& OrderRows() {
    static const QString noField;
    static const std::array<OrderRow, 10> rows{{
        {OrderNone, noField, noField},
        {OrderTask, TaskTable::IndexTaskName, TaskRecord::Task},
        {OrderID, TaskTable::IndexID, TaskRecord::ID},
        {OrderLastActioned, TaskTable::IndexLastActioned, TaskRecord::LastActioned},
        {OrderStatus, TaskTable::IndexStatus, TaskRecord::Status},
        {OrderDifficulty, TaskTable::IndexDifficulty, TaskRecord::Difficulty},
        {OrderPriority, TaskTable::IndexPriority, TaskRecord::Priority},
        {OrderCategory, TaskTable::IndexCategory, TaskRecord::Category},
        {OrderProgress, TaskTable::IndexProgress, TaskRecord::Progress},
        {OrderGroupNo, TaskTable::IndexGroupNo, TaskRecord::GroupNo},
    }};
    return rows;
}

} // namespace

const QStringList& ShowChoices() {
    static const QStringList choices{
        ShowAll,        ShowNotStarted, ShowInProgress, ShowHighPriority,   ShowUrgentPriority,
        ShowEasy,       ShowHard,       ShowCompleted,  ShowCompletedToday, ShowCreatedToday,
        ShowBookmarked, ShowOverdue,
    };
    return choices;
}

const QStringList& OrderChoices() {
    static const QStringList choices = [] {
        QStringList list;
        for (const OrderRow& row : OrderRows())
            list << row.choice;
        return list;
    }();
    return choices;
}

std::optional<QString> PresetExpression(const QString& choice, const QDate& today) {
    // The trailing blank of each expression is part of the text the table keeps.
    const QString date = Quoted(uGeneral::FormatShortDate(today));
    if (choice == ShowNotStarted)
        return QStringLiteral("Status = 'Not Started' ");
    if (choice == ShowInProgress)
        return QStringLiteral("Status = 'In progress' ");
    if (choice == ShowHighPriority)
        return QStringLiteral("Priority = 'High' and Status <> 'Complete' ");
    if (choice == ShowUrgentPriority)
        return QStringLiteral("Priority = 'Urgent' and Status <> 'Complete' ");
    if (choice == ShowEasy)
        return QStringLiteral("Difficulty = 'Easy' and Status <> 'Complete' ");
    if (choice == ShowHard)
        return QStringLiteral("Difficulty = 'Hard' and Status <> 'Complete' ");
    if (choice == ShowCompleted)
        return QStringLiteral("Status = 'Complete' ");
    if (choice == ShowCompletedToday)
        return QStringLiteral("Status = 'Complete' and CompletedDate = ") + date + u' ';
    if (choice == ShowCreatedToday)
        return QStringLiteral("CreatedDate = ") + date + u' ';
    if (choice == ShowBookmarked)
        return QStringLiteral("Bookmarked =True ");
    if (choice == ShowOverdue)
        return QStringLiteral("DueDate < ") + date + u' ';
    return std::nullopt;
}

void ApplyPreset(DataTable& table, const QString& choice) {
    if (choice == ShowAll) {
        table.setFiltered(false);
        return;
    }
    const std::optional<QString> expression = PresetExpression(choice, uGeneral::Today());
    if (!expression)
        return;
    table.setFilter(*expression);
    table.setFiltered(true);
}

QString SearchExpression(const QString& text) {
    return QStringLiteral("Task LIKE ") + Quoted(u'%' + text + u'%');
}

void ApplySearch(DataTable& table, const QString& text) {
    table.setFilter(SearchExpression(text));
    table.setFiltered(true);
}

void CancelFilter(DataTable& table) {
    table.setFiltered(false);
}

std::optional<QString> OrderIndex(const QString& choice) {
    for (const OrderRow& row : OrderRows())
        if (row.choice == choice)
            return row.indexName;
    return std::nullopt;
}

void ApplyOrder(DataTable& table, const QString& choice) {
    if (const std::optional<QString> index = OrderIndex(choice))
        table.setIndexName(*index);
}

std::optional<ColumnOrder> OrderForColumn(const QString& fieldName) {
    if (fieldName.isEmpty())
        return std::nullopt;
    for (const OrderRow& row : OrderRows())
        if (row.field.compare(fieldName, Qt::CaseInsensitive) == 0)
            return ColumnOrder{row.indexName, row.choice};
    return std::nullopt;
}

QString ApplyColumnOrder(DataTable& table, const QString& fieldName) {
    const std::optional<ColumnOrder> order = OrderForColumn(fieldName);
    if (!order)
        return QString();
    table.setIndexName(order->indexName);
    return order->choice;
}

} // namespace ListViews

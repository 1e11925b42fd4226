#include "model/ListViews.h"

#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"

#include <array>

namespace ListViews {

namespace {

// A text placed between single quotes of an expression: a quote inside is doubled, which the
// expression language reads back as one quote.
QString Quoted(const QString& text) {
    QString inner = text;
    inner.replace(u'\'', QStringLiteral("''"));
    return u'\'' + inner + u'\'';
}

// Every "Only Show" choice but "All", with its expression. The trailing blank of each
// expression is part of the text the table keeps; %1 stands for today's date, quoted.
struct PresetRow {
    const QString& choice;
    QString expression;
    bool dated;
};

const std::array<PresetRow, 12>& PresetRows() {
    static const std::array<PresetRow, 12> rows{{
        {ShowNotStarted, QStringLiteral("Status = 'Not Started' "), false},
        {ShowInProgress, QStringLiteral("Status = 'In progress' "), false},
        {ShowHighPriority, QStringLiteral("Priority = 'High' and Status <> 'Complete' "), false},
        {ShowUrgentPriority, QStringLiteral("Priority = 'Urgent' and Status <> 'Complete' "),
         false},
        {ShowEasy, QStringLiteral("Difficulty = 'Easy' and Status <> 'Complete' "), false},
        {ShowHard, QStringLiteral("Difficulty = 'Hard' and Status <> 'Complete' "), false},
        {ShowCompleted, QStringLiteral("Status = 'Complete' "), false},
        {ShowCompletedToday, QStringLiteral("Status = 'Complete' and CompletedDate = %1 "), true},
        {ShowCreatedToday, QStringLiteral("CreatedDate = %1 "), true},
        {ShowBookmarked, QStringLiteral("Bookmarked =True "), false},
        {ShowOverdue, QStringLiteral("DueDate < %1 "), true},
        {ShowRepeating, QStringLiteral("Repeat LIKE '%' "), false},
    }};
    return rows;
}

struct OrderRow {
    const QString& choice;
    const QString& indexName;
    const QString& field; // empty: no column selects it
};

const std::array<OrderRow, 11>& OrderRows() {
    static const QString noField;
    static const std::array<OrderRow, 11> rows{{
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
        {OrderRepeat, TaskTable::IndexRepeat, TaskTable::Repeat},
    }};
    return rows;
}

} // namespace

const QStringList& ShowChoices() {
    static const QStringList choices = [] {
        QStringList list{ShowAll};
        for (const PresetRow& row : PresetRows())
            list << row.choice;
        return list;
    }();
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
    for (const PresetRow& row : PresetRows())
        if (row.choice == choice)
            return row.dated ? row.expression.arg(Quoted(uGeneral::FormatShortDate(today)))
                             : row.expression;
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

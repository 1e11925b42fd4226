#include "model/TaskRecord.h"

namespace TaskRecord {

const FieldList& Fields() {
    static const FieldList fields = [] {
        auto text = [](const QString& name, int width) {
            return FieldDef{name, FieldKind::String, width, 0};
        };
        auto of = [](const QString& name, FieldKind kind) { return FieldDef{name, kind, 0, 0}; };
        return FieldList{
            of(ID, FieldKind::AutoInc),
            text(Task, 255),
            text(Status, 20),
            text(Priority, 20),
            of(Progress, FieldKind::Integer),
            text(Difficulty, 20),
            of(CreatedDate, FieldKind::Date),
            of(CompletedDate, FieldKind::Date),
            of(LastActioned, FieldKind::Date),
            of(StartDate, FieldKind::Date),
            of(Time, FieldKind::Integer),
            of(ParentID, FieldKind::Integer),
            of(Bookmarked, FieldKind::Boolean),
            text(AssignedTo, 30),
            of(DueDate, FieldKind::Date),
            of(GroupNo, FieldKind::Integer),
            text(Comments, 255),
            text(Owner, 30),
            of(Details, FieldKind::Memo),
            text(Category, 30),
            text(RelatedFile, 255),
            text(LinkedList, 255),
            of(Properties, FieldKind::Memo),
            of(Points, FieldKind::Word),
            text(URL, 255),
        };
    }();
    return fields;
}

const QStringList& StatusChoices() {
    static const QStringList words{NotStarted, Paused, InProgress, Complete, Cancelled};
    return words;
}
const QStringList& GridPriorityChoices() {
    static const QStringList words{Normal, Urgent, High, Low};
    return words;
}
const QStringList& QuickAddPriorityChoices() {
    static const QStringList words{Normal, High, Low};
    return words;
}
const QStringList& DetailsPriorityChoices() {
    static const QStringList words{Low, Normal, High, Urgent};
    return words;
}
const QStringList& GridDifficultyChoices() {
    static const QStringList words{Easy, Moderate, Hard};
    return words;
}
const QStringList& QuickAddDifficultyChoices() {
    return GridDifficultyChoices();
}
const QStringList& DetailsDifficultyChoices() {
    static const QStringList words{Easy, Normal, Hard};
    return words;
}

} // namespace TaskRecord

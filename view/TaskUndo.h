#pragma once

#include "model/DataTable.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

class QUndoStack;

// The undo history of one open list, for this run: every change stored in its task table,
// grouped into the user's commands, undone and redone as ordinary changes, so the list file ends
// up exactly as the same changes made by hand would leave it (an undone edit is an edit back, an
// undone add a delete, an undone delete the task added again under a new ID).
//
// Changes stored while a step is open (Step, around a command) make one step. Any other change,
// such as a grid edit stored when the user moves to another task, is a step of its own, and so is
// an earlier edit that a command first stores by moving on.
class TaskUndo : public QObject {
    Q_OBJECT
public:
    TaskUndo(DataTable* table, QObject* parent = nullptr);
    ~TaskUndo() override;

    QUndoStack* Stack() const { return m_stack; }

    // Keeps a command's stored changes together; steps opened inside an open one join it. The
    // step is named by the first text given, else by what it changed.
    class Step {
    public:
        explicit Step(TaskUndo& undo, const QString& text = QString());
        ~Step();
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        TaskUndo& m_undo;
    };

    // Undoes or redoes the latest step; a pending row is stored first (a step of its own). Throws
    // CorvantisError when the table refuses a change; that step is then dropped.
    void Undo();
    void Redo();
    // Forgets every step (a list read afresh).
    void Clear();

private:
    friend class TaskUndoCommand;
    struct Change {
        DataTable::RowId row;
        std::int32_t before; // version before the change; -1: the row was added
        std::int32_t after;  // version after it; -1: the row was deleted
    };

    void stored(DataTable::RowId row, std::int32_t before, std::int32_t after, bool settling);
    // Forgets the open step's changes that the table took back (a cancelled batch of rows).
    void dropWithdrawn();
    void push(std::vector<Change>&& changes, const QString& text);
    // Settles the pending row, then undoes or redoes the latest step through the stack.
    void replayLatest(bool redo);
    // Makes the changes again (forward) or takes them back; false when the table refused.
    bool replay(const std::vector<Change>& changes, bool backward);
    // The row that stands for a recorded row now (an undone delete adds the task afresh).
    DataTable::RowId resolve(DataTable::RowId row);
    static QString describe(const std::vector<Change>& changes);

    DataTable* m_table;
    QUndoStack* m_stack;
    int m_depth = 0;
    QString m_text;
    std::vector<Change> m_open;
    bool m_replaying = false;
    std::optional<QString> m_failure;
    std::unordered_map<DataTable::RowId, DataTable::RowId> m_moved;
};

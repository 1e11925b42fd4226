#pragma once

#include "model/DataTable.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

// The undo history of one open list, for this run: every change stored in its task table,
// grouped into the user's commands, undone and redone as ordinary changes, so the list file ends
// up exactly as the same changes made by hand would leave it (an undone edit is an edit back, an
// undone add a delete, an undone delete the task added again under its own ID).
//
// Changes stored while a step is open (Step, around a command) make one step. Any other change,
// such as a grid edit stored when the user moves to another task, is a step of its own, and so is
// an earlier edit that a command first stores by moving on.
//
// Its own list of steps rather than a QUndoStack: the history belongs to the list document,
// which needs no graphical library; the main window follows the active list's history through
// stateChanged.
class TaskUndo : public QObject {
    Q_OBJECT
public:
    explicit TaskUndo(DataTable* table, QObject* parent = nullptr);
    ~TaskUndo() override;

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

    bool canUndo() const { return m_index > 0; }
    bool canRedo() const { return m_index < m_steps.size(); }
    // The names of the steps Undo and Redo would take; empty when there is none.
    QString undoText() const;
    QString redoText() const;
    // Steps kept, and how many of them are done (the rest were undone).
    int count() const { return static_cast<int>(m_steps.size()); }
    int index() const { return static_cast<int>(m_index); }

    // Undoes or redoes the latest step; a pending row is stored first (a step of its own). Throws
    // CorvantisError when the table refuses a change; that step is then dropped.
    void undo();
    void redo();
    // Forgets every step (a list read afresh).
    void clear();

    // The list as last saved (or read) is the state after the steps done now. Undo and redo back
    // to that point return the list to it; a new step past an undone one, a step the table
    // refused and clear lose it.
    void markSaved() { m_savedAt = static_cast<int>(m_index); }
    void forgetSaved() { m_savedAt = -1; }
    bool isAtSaved() const { return m_savedAt == static_cast<int>(m_index); }

signals:
    // What Undo and Redo can do, or their names, changed.
    void stateChanged();

private:
    struct Change {
        DataTable::RowId row;
        std::int32_t before; // version before the change; -1: the row was added
        std::int32_t after;  // version after it; -1: the row was deleted
    };
    struct Entry {
        std::vector<Change> changes;
        QString text;
    };

    void stored(DataTable::RowId row, std::int32_t before, std::int32_t after, bool settling);
    // Forgets the open step's changes that the table took back (a cancelled batch of rows).
    void dropWithdrawn();
    void push(std::vector<Change>&& changes, const QString& text);
    // Settles the pending row, then undoes or redoes the latest step.
    void replayLatest(bool redo);
    // Makes the changes again (forward) or takes them back; throws when the table refuses.
    void replay(const std::vector<Change>& changes, bool backward);
    // The row that stands for a recorded row now (an undone delete adds the task afresh).
    DataTable::RowId resolve(DataTable::RowId row);
    static QString describe(const std::vector<Change>& changes);

    DataTable* m_table;
    std::vector<Entry> m_steps;
    std::size_t m_index = 0; // steps below it are done, from it on undone
    int m_savedAt = -1;      // the index at which the list is as saved; -1: none
    int m_depth = 0;
    QString m_text;
    std::vector<Change> m_open;
    bool m_replaying = false;
    std::unordered_map<DataTable::RowId, DataTable::RowId> m_moved;
};

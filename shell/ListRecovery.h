#pragma once

#include "storage/RecoveryStore.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class QTimer;
class TfrTasks;

// Keeps a recovery copy of every open list that has unsaved changes: written by the list file
// writer within the delay (30 seconds) of a change and never more often than once per delay,
// never while a task is being edited (the copy waits for the row to be stored, so typing is not
// interrupted), removed when the list is saved or closed, and all of them removed at a normal
// end. What a program that did not end normally left is offered at the next start.
class ListRecovery : public QObject {
    Q_OBJECT
public:
    explicit ListRecovery(const QString& root, QObject* parent = nullptr);
    ~ListRecovery() override;

    RecoveryStore& Store() { return m_store; }
    // Follows a view's changes; `id` names a copy taken over from an earlier run.
    void Follow(TfrTasks* view, const QString& id = QString());
    // The list was saved: its copy goes (the view is still followed).
    void Saved(TfrTasks* view);
    // The list's tab is closing: its copy goes, and the view is no longer followed.
    void Closing(TfrTasks* view);
    // The program ends normally: every copy goes.
    void EndNormally();

    // The delay between a change and its copy (30 seconds).
    static void SetDelayForTesting(int milliseconds);

private:
    struct Entry {
        QPointer<TfrTasks> view;
        QString id;
        QTimer* timer = nullptr;
        QElapsedTimer lastWrite; // invalid until the first copy
    };
    Entry* entryOf(const TfrTasks* view);
    void changed(TfrTasks* view);
    void writeDue(Entry& entry);

    RecoveryStore m_store;
    std::vector<std::unique_ptr<Entry>> m_entries;
};

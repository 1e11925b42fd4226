#pragma once

#include "storage/RecoveryStore.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class QTimer;
class ListDocument;

// Keeps a recovery copy of every open list that has unsaved changes: written by the list file
// writer within the delay (30 seconds) of a change and never more often than once per delay,
// with a task being edited written as it stands (its values are not stored in the list, so the
// editing goes on undisturbed), removed when the list is saved or closed, and all of them
// removed at a normal end. What a program that did not end normally left is offered at the next
// start.
class ListRecovery : public QObject {
    Q_OBJECT
public:
    explicit ListRecovery(const QString& root, QObject* parent = nullptr);
    ~ListRecovery() override;

    RecoveryStore& store() { return m_store; }
    // Follows a list's changes and saves; `id` names a copy taken over from an earlier run.
    void follow(ListDocument* document, const QString& id = QString());
    // The list is closing: its copy goes, and the list is no longer followed.
    void closing(ListDocument* document);
    // The program ends normally: every copy goes.
    void endNormally();

    // The delay between a change and its copy (30 seconds).
    static void setDelayForTesting(int milliseconds);

signals:
    // A copy could not be written in folder (the work goes on unprotected; the next change tries
    // again).
    void writeFailed(const QString& folder, const QString& reason);

private:
    struct Entry {
        QPointer<ListDocument> document;
        QString id;
        QTimer* timer = nullptr;
        QElapsedTimer lastWrite; // invalid until the first copy
        qint64 order = 0;        // the list's place among those followed
    };
    Entry* entryOf(const ListDocument* document);
    void changed(ListDocument* document);
    void saved(ListDocument* document);
    void writeDue(Entry& entry);

    RecoveryStore m_store;
    std::vector<std::unique_ptr<Entry>> m_entries;
    qint64 m_nextOrder = 0;
};

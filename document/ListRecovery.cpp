#include "document/ListRecovery.h"

#include "base/CorvantisError.h"
#include "document/ListDocument.h"
#include "model/DataTable.h"

#include <QTimer>

#include <algorithm>

namespace {

int& delayMs() {
    static int delay = 30 * 1000;
    return delay;
}

} // namespace

ListRecovery::ListRecovery(const QString& root, QObject* parent) : QObject(parent), m_store(root) {}

ListRecovery::~ListRecovery() = default;

void ListRecovery::setDelayForTesting(int milliseconds) {
    delayMs() = milliseconds;
}

ListRecovery::Entry* ListRecovery::entryOf(const ListDocument* document) {
    for (const auto& entry : m_entries)
        if (entry->document == document)
            return entry.get();
    return nullptr;
}

void ListRecovery::follow(ListDocument* document, const QString& id) {
    auto entry = std::make_unique<Entry>();
    entry->document = document;
    entry->id = id.isEmpty() ? RecoveryStore::newId() : id;
    entry->order = m_nextOrder++; // lists are followed in the order of their tabs
    entry->timer = new QTimer(this);
    entry->timer->setSingleShot(true);
    Entry* raw = entry.get();
    connect(entry->timer, &QTimer::timeout, this, [this, raw] { writeDue(*raw); });
    m_entries.push_back(std::move(entry));
    connect(document, &ListDocument::modified, this, [this, document] { changed(document); });
    connect(document, &ListDocument::saved, this, [this, document] { saved(document); });
    // Undone back to its saved state, the list holds nothing its file lacks.
    connect(document, &ListDocument::markedSaved, this, [this, document] { saved(document); });
    // A task being edited changes with every value written into it, before it is stored.
    connect(document->table(), &DataTable::rowChanged, this, [this, document] {
        if (document->isUnsaved())
            changed(document);
    });
    if (document->isUnsaved())
        changed(document);
}

void ListRecovery::changed(ListDocument* document) {
    Entry* entry = entryOf(document);
    if (!entry || entry->timer->isActive())
        return;
    // Within the delay of this change, and not sooner than the delay after the last copy.
    const qint64 sinceLast = entry->lastWrite.isValid() ? entry->lastWrite.elapsed() : 0;
    const qint64 wait =
        entry->lastWrite.isValid() ? std::max<qint64>(0, delayMs() - sinceLast) : delayMs();
    entry->timer->start(static_cast<int>(wait));
}

void ListRecovery::writeDue(Entry& entry) {
    ListDocument* document = entry.document;
    if (!document || !document->isUnsaved())
        return;
    DataTable& table = *document->table();
    if (!table.isActive())
        return;
    // A new list with nothing in it holds nothing to lose.
    if (document->isNew() && document->fileName().isEmpty() && table.versionCount() == 0)
        return;
    RecoveryStore::Note note;
    note.originalFile = document->fileName();
    note.isNew = document->isNew();
    note.original = document->fileOnDisk();
    note.order = entry.order;
    try {
        m_store.write(entry.id, table, note);
    } catch (const CorvantisError& error) {
        // A copy that cannot be written (a full disk) must not interrupt the user's work;
        // the next change tries again.
        emit writeFailed(m_store.root(), error.message());
    }
    entry.lastWrite.start();
}

void ListRecovery::saved(ListDocument* document) {
    if (Entry* entry = entryOf(document)) {
        entry->timer->stop();
        m_store.remove(entry->id);
    }
}

void ListRecovery::closing(ListDocument* document) {
    Entry* entry = entryOf(document);
    if (!entry)
        return;
    m_store.remove(entry->id);
    disconnect(document, nullptr, this, nullptr);
    disconnect(document->table(), nullptr, this, nullptr);
    delete entry->timer;
    m_entries.erase(std::find_if(m_entries.begin(), m_entries.end(),
                                 [entry](const auto& e) { return e.get() == entry; }));
}

void ListRecovery::endNormally() {
    for (const auto& entry : m_entries)
        entry->timer->stop();
    m_store.close();
}

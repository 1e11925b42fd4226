#include "shell/ListRecovery.h"

#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "view/uFrTasks.h"

#include <QTimer>

#include <algorithm>

namespace {

int& delayMs() {
    static int delay = 30 * 1000;
    return delay;
}

// While a task is being edited the copy waits; it looks again this soon.
constexpr int RetryMs = 1000;

} // namespace

ListRecovery::ListRecovery(const QString& root, QObject* parent) : QObject(parent), m_store(root) {}

ListRecovery::~ListRecovery() = default;

void ListRecovery::SetDelayForTesting(int milliseconds) {
    delayMs() = milliseconds;
}

ListRecovery::Entry* ListRecovery::entryOf(const TfrTasks* view) {
    for (const auto& entry : m_entries)
        if (entry->view == view)
            return entry.get();
    return nullptr;
}

void ListRecovery::Follow(TfrTasks* view, const QString& id) {
    auto entry = std::make_unique<Entry>();
    entry->view = view;
    entry->id = id.isEmpty() ? RecoveryStore::NewId() : id;
    entry->timer = new QTimer(this);
    entry->timer->setSingleShot(true);
    Entry* raw = entry.get();
    connect(entry->timer, &QTimer::timeout, this, [this, raw] { writeDue(*raw); });
    m_entries.push_back(std::move(entry));
    connect(view, &TfrTasks::listChanged, this, [this, view] { changed(view); });
    if (view->Unsaved())
        changed(view);
}

void ListRecovery::changed(TfrTasks* view) {
    Entry* entry = entryOf(view);
    if (!entry || entry->timer->isActive())
        return;
    // Within the delay of this change, and not sooner than the delay after the last copy.
    const qint64 sinceLast = entry->lastWrite.isValid() ? entry->lastWrite.elapsed() : 0;
    const qint64 wait =
        entry->lastWrite.isValid() ? std::max<qint64>(0, delayMs() - sinceLast) : delayMs();
    entry->timer->start(static_cast<int>(wait));
}

void ListRecovery::writeDue(Entry& entry) {
    TfrTasks* view = entry.view;
    if (!view || !view->Unsaved())
        return;
    DataTable& table = *view->cdsTasks();
    if (!table.isActive())
        return;
    if (table.isEditing()) {
        entry.timer->start(RetryMs);
        return;
    }
    // A new list with nothing in it holds nothing to lose.
    if (view->IsNew() && view->ListFileName().isEmpty() && table.versionCount() == 0)
        return;
    RecoveryStore::Note note;
    note.originalFile = view->ListFileName();
    note.isNew = view->IsNew();
    note.original = view->FileOnDisk();
    try {
        m_store.Write(entry.id, table, note);
    } catch (const CorvantisError&) {
        // A copy that cannot be written (a full disk) must not interrupt the user's work;
        // the next change tries again.
    }
    entry.lastWrite.start();
}

void ListRecovery::Saved(TfrTasks* view) {
    if (Entry* entry = entryOf(view)) {
        entry->timer->stop();
        m_store.Remove(entry->id);
    }
}

void ListRecovery::Closing(TfrTasks* view) {
    Entry* entry = entryOf(view);
    if (!entry)
        return;
    m_store.Remove(entry->id);
    disconnect(view, nullptr, this, nullptr);
    delete entry->timer;
    m_entries.erase(std::find_if(m_entries.begin(), m_entries.end(),
                                 [entry](const auto& e) { return e.get() == entry; }));
}

void ListRecovery::EndNormally() {
    for (const auto& entry : m_entries)
        entry->timer->stop();
    m_store.Close();
}

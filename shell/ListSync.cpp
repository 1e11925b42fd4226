#include "shell/ListSync.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "base/TextLines.h"
#include "document/DocumentSync.h"
#include "document/ListDocument.h"
#include "model/DataTable.h"
#include "view/uFrTasks.h"

#include <QTimer>

namespace {

// A sync wanted while a task is being edited looks again this much later.
constexpr int EditWaitMs = 2000;

} // namespace

ListSync::ListSync(TfrTasks& view)
    : QObject(view.document()), m_document(view.document()), m_view(&view),
      m_list(std::make_unique<DocumentSync>(*view.document())), m_timer(new QTimer(this)),
      m_waitForEdit(new QTimer(this)) {
    setObjectName(QStringLiteral("ListSync"));
    // Reading or changing the list ends the cell edit first, as every command does.
    m_list->setEndEdit([this] {
        if (m_view)
            m_view->EndCellEdit();
    });
    m_waitForEdit->setSingleShot(true);
    m_waitForEdit->setInterval(EditWaitMs);
    connect(m_waitForEdit, &QTimer::timeout, this, &ListSync::want);
    connect(m_timer, &QTimer::timeout, this, &ListSync::want);
    connect(m_document, &ListDocument::fileNameChanged, this, &ListSync::fileNameChanged);
    connect(m_document, &ListDocument::saved, this, &ListSync::saved);
    if (!m_document->fileName().isEmpty()) {
        m_state = std::make_unique<SyncState>(m_document->fileName());
        m_state->load();
        m_status = m_state->problem();
        makeEngine();
        armTimer();
    }
}

ListSync::~ListSync() {
    // The engine goes before the list and the state it works on.
    m_sync.reset();
}

QString ListSync::listName() const {
    return uGeneral::CaptionFromFileName(m_document->fileName());
}

SyncState::Settings ListSync::settings() const {
    return m_state ? m_state->settings() : SyncState::Settings();
}

bool ListSync::isEnabled() const {
    return m_state && m_state->settings().enabled && !m_state->settings().calendar.isEmpty();
}

QString ListSync::serverName() const {
    const SyncState::Settings chosen = settings();
    return CalDavClient::ServerName(chosen.server.isEmpty() ? chosen.calendar : chosen.server);
}

void ListSync::setSettings(const SyncState::Settings& settings) {
    if (!m_state)
        throw CorvantisError(
            QStringLiteral("Save the list first: a list syncs once it has a file."));
    const SyncState::Settings before = m_state->settings();
    m_state->setSettings(settings);
    if (before.calendar != settings.calendar) {
        // What was synced with the old calendar says nothing about the new one.
        cancel();
        m_state->clear();
        m_state->commit();
    }
    armTimer();
}

void ListSync::setAsk(CalDavSync::Ask ask) {
    m_ask = std::move(ask);
    if (m_sync)
        m_sync->setAsk(m_ask);
}

void ListSync::makeEngine() {
    m_sync = std::make_unique<CalDavSync>(*m_list, *m_state);
    m_sync->setAsk(m_ask);
    connect(m_sync.get(), &CalDavSync::progress, this,
            [this](const QString& text, int done, int total) {
                m_status = text;
                m_done = done;
                m_total = total;
                emit progress(text, done, total);
            });
    connect(m_sync.get(), &CalDavSync::finished, this,
            [this](const CalDavClient::Failure& failure, const CalDavSync::Summary& summary) {
                m_document->setSyncing(false);
                m_done = m_total = 0;
                if (failure) {
                    m_status = failure.message;
                } else {
                    const int received = summary.added + summary.edited + summary.deleted;
                    const int sent = summary.pushed + summary.removed;
                    m_status = QStringLiteral("Synced with %1 at %2")
                                   .arg(serverName(),
                                        uGeneral::Now().time().toString(QStringLiteral("HH:mm")));
                    if (received + sent > 0)
                        m_status +=
                            QStringLiteral(": %1 received, %2 sent").arg(received).arg(sent);
                }
                emit finished(failure, summary);
                if (std::exchange(m_again, false))
                    QTimer::singleShot(0, this, &ListSync::want);
            });
}

void ListSync::start(const QString& password) {
    if (!m_sync || m_sync->isRunning())
        return;
    m_sync->setPassword(password);
    m_document->setSyncing(true);
    m_sync->start();
}

void ListSync::cancel() {
    m_again = false;
    if (m_sync)
        m_sync->cancel();
}

bool ListSync::isRunning() const {
    return m_sync && m_sync->isRunning();
}

bool ListSync::passwordAccepted() const {
    return m_sync && m_sync->client().credentialsAccepted();
}

QHash<QString, QByteArray> ListSync::syncedObjects() const {
    QHash<QString, QByteArray> objects;
    if (!m_state)
        return objects;
    objects.reserve(m_state->items().size());
    for (auto it = m_state->items().cbegin(); it != m_state->items().cend(); ++it)
        objects.insert(it.key(), it.value().ics);
    return objects;
}

void ListSync::armTimer() {
    if (isEnabled())
        m_timer->start(m_state->settings().intervalMinutes * 60 * 1000);
    else
        m_timer->stop();
}

void ListSync::want() {
    if (!isEnabled())
        return;
    if (isRunning()) {
        m_again = true;
        return;
    }
    // The sync reads the list as stored: a task being edited is waited for.
    if (m_document->table()->isEditing()) {
        m_waitForEdit->start();
        return;
    }
    emit wanted();
}

void ListSync::fileNameChanged(const QString& fileName) {
    // The state of the old name goes along under the new one; whatever a file of the new name
    // had before belongs to another list.
    cancel();
    auto state = std::make_unique<SyncState>(fileName);
    state->remove();
    try {
        if (m_state) {
            if (m_state->settings() != SyncState::Settings())
                state->setSettings(m_state->settings());
            state->setCursor(m_state->syncToken(), m_state->ctag());
            for (auto it = m_state->items().cbegin(); it != m_state->items().cend(); ++it)
                state->setItem(it.key(), it.value());
            // The list was just written under the new name: its state agrees with it.
            state->compact();
        }
    } catch (const CorvantisError& error) {
        m_status = error.message();
    }
    m_sync.reset();
    m_state = std::move(state);
    makeEngine();
    armTimer();
}

void ListSync::saved() {
    if (!m_sync)
        return;
    const QString problem = m_sync->listSaved();
    if (!problem.isEmpty()) {
        m_status = problem;
        emit finished({CalDavClient::Failure::Local, 0, problem}, CalDavSync::Summary());
        return;
    }
    want();
}

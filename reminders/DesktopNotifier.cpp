#include "reminders/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>
#include <QVariantMap>

namespace {
QDBusMessage methodCall(const QString& method) {
    return QDBusMessage::createMethodCall(DesktopNotifier::ServiceName, DesktopNotifier::ObjectPath,
                                          DesktopNotifier::Interface, method);
}
} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {
    if (!m_bus.isConnected())
        return;
    // Any sender: naming the service would make the bus look its owner up while we wait. Our
    // ids and the owner that gave them tell our signals from others'.
    m_bus.connect(QString(), ObjectPath, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString, QDBusMessage)));
    m_bus.connect(QString(), ObjectPath, Interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onClosed(uint, uint, QDBusMessage)));
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::send(const Notice& notice, Sent sent) {
    if (!m_bus.isConnected()) {
        refuse(std::move(sent));
        return;
    }
    m_waiting.push_back({notice, std::move(sent)});
    probe();
}

void DesktopNotifier::refuse(Sent sent) {
    QTimer::singleShot(0, this, [sent = std::move(sent)] {
        if (sent)
            sent(0);
    });
}

// Asks what the service offers before each batch: a service may have come, gone or been
// replaced since the last one.
void DesktopNotifier::probe() {
    if (m_probing)
        return;
    m_probing = true;
    const QDBusPendingCall call =
        m_bus.asyncCall(methodCall(QStringLiteral("GetCapabilities")), m_timeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::probed);
}

void DesktopNotifier::probed(QDBusPendingCallWatcher* watcher) {
    watcher->deleteLater();
    m_probing = false;
    const QDBusPendingReply<QStringList> reply = *watcher;
    const bool present = !reply.isError();
    m_capabilities = present ? reply.value() : QStringList();
    std::deque<Pending> waiting;
    waiting.swap(m_waiting);
    for (Pending& pending : waiting) {
        if (present)
            deliver(std::move(pending));
        else if (pending.sent)
            pending.sent(0);
    }
}

void DesktopNotifier::deliver(Pending pending) {
    const Notice& notice = pending.notice;
    const QStringList actions =
        m_capabilities.contains(QStringLiteral("actions")) ? notice.actions : QStringList();
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), AppIcon);
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    QDBusMessage call = methodCall(QStringLiteral("Notify"));
    call << AppName << uint(0) << AppIcon << notice.summary << notice.body.toHtmlEscaped()
         << actions << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, sent = std::move(pending.sent)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                quint32 id = 0;
                if (!reply.isError()) {
                    id = reply.value();
                    m_serviceOwner = reply.reply().service();
                    m_ours.append(id);
                }
                if (sent)
                    sent(id);
            });
}

void DesktopNotifier::checkService(std::function<void(bool)> answer) {
    if (!m_bus.isConnected()) {
        QTimer::singleShot(0, this, [answer = std::move(answer)] { answer(false); });
        return;
    }
    const QDBusPendingCall call =
        m_bus.asyncCall(methodCall(QStringLiteral("GetCapabilities")), m_timeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [answer = std::move(answer)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                answer(!finished->isError());
            });
}

void DesktopNotifier::close(quint32 id) {
    if (!m_bus.isConnected() || !m_ours.contains(id))
        return;
    QDBusMessage call = methodCall(QStringLiteral("CloseNotification"));
    call << id;
    // Nothing waits for the answer: a notification already gone is an error we do not need.
    m_bus.asyncCall(call, m_timeoutMs);
}

bool DesktopNotifier::isOurs(quint32 id, const QDBusMessage& message) const {
    return m_ours.contains(id) && (m_serviceOwner.isEmpty() || message.service() == m_serviceOwner);
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action, const QDBusMessage& message) {
    if (isOurs(id, message))
        emit actionInvoked(id, action);
}

void DesktopNotifier::onClosed(uint id, uint, const QDBusMessage& message) {
    if (!isOurs(id, message))
        return;
    m_ours.removeAll(id);
    emit closed(id);
}

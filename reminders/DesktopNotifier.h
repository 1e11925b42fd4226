#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

class QDBusMessage;
class QDBusPendingCallWatcher;

// The desktop's notification service (org.freedesktop.Notifications on the session bus), spoken
// to with asynchronous calls only: a missing, hung or slow service never holds up the program.
// Each batch of notifications first asks the service what it offers (GetCapabilities); a
// notification's actions are sent only where it offers them. Its body is always sent escaped:
// some services read markup without offering it, and would cut a text at its "&" or "<". A
// notification the service did not take (no bus, no service, an error, no answer within the time
// limit) is reported with id 0, so the caller can show it another way.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 3000;

    struct Notice {
        QString summary;
        QString body;
        // Pairs of action key and label ("default" with an empty label is a click on it).
        QStringList actions;
    };
    // Told the notification's id, or 0 when no service took it.
    using Sent = std::function<void(quint32 id)>;

    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // Sends a notification; `sent` is called later, from the event loop, never from inside.
    void send(const Notice& notice, Sent sent);
    // Takes a notification off the screen (a list closed, an action taken).
    void close(quint32 id);
    // Asks whether a service answers now (one that starts on demand is started); `answer` is
    // called later, from the event loop, with true when one did within the time limit.
    void checkService(std::function<void(bool present)> answer);

    // What the service said it offers at its last answer; empty before one or without a service.
    QStringList capabilities() const { return m_capabilities; }

    inline static const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");
    inline static const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");
    inline static const QString Interface = QStringLiteral("org.freedesktop.Notifications");
    inline static const QString AppName = QStringLiteral("Corvantis");
    inline static const QString AppIcon = QStringLiteral("org.corvantis.Corvantis");

signals:
    // The user chose an action of one of our notifications (its key; "default" for a click).
    void actionInvoked(quint32 id, const QString& action);
    // One of our notifications went (expired, dismissed, closed).
    void closed(quint32 id);

private slots:
    void onActionInvoked(uint id, const QString& action, const QDBusMessage& message);
    void onClosed(uint id, uint reason, const QDBusMessage& message);

private:
    struct Pending {
        Notice notice;
        Sent sent;
    };
    void probe();
    void probed(QDBusPendingCallWatcher* watcher);
    void deliver(Pending pending);
    // Calls back later, from the event loop, with no id.
    void refuse(Sent sent);
    bool isOurs(quint32 id, const QDBusMessage& message) const;

    QDBusConnection m_bus;
    int m_timeoutMs = DefaultTimeoutMs;
    bool m_probing = false;
    QStringList m_capabilities;
    QString m_serviceOwner; // the unique name that took our notifications
    std::deque<Pending> m_waiting;
    QList<quint32> m_ours; // the ids of notifications still shown
};

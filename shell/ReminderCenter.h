#pragma once

#include "model/DataTable.h"
#include "reminders/ReminderPlanner.h"
#include "reminders/ReminderSettings.h"
#include "reminders/ReminderStore.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class DesktopNotifier;
class DueDateIndex;
class QSystemTrayIcon;
class QTimer;

// Reminders of the due tasks of the open lists: once a day, at the reminder time (or as soon as
// a list is open after it), each task due today or earlier that is neither complete nor
// cancelled is notified through the desktop's notification service; more than five of one list
// give one summary. A list whose tasks come due later in the day (a due date set, a task added,
// its file read again) is looked at again at once. The notifications offer Complete, Tomorrow and a
// click that shows the task. Without a notification service the reminders go to the tray's balloon
// where there is a tray, else to the status bar. What was reminded is logged per list file, so a
// restart on the same day reminds of nothing twice.
//
// The center is given the open lists through List and never reaches into a view or the main
// window itself.
class ReminderCenter : public QObject {
    Q_OBJECT
public:
    // What the center needs of one open list.
    struct List {
        DataTable* table = nullptr;        // the list's task table; it names the list here
        std::function<QString()> caption;  // the list's name, as its tab shows it
        std::function<QString()> fileName; // its file; empty for a list never saved
        // Runs Complete on the task (one undo step; the list is marked unsaved).
        std::function<void(DataTable::RowId)> completeTask;
        // Raises the window, activates the list's tab and selects the task (-1: none).
        std::function<void(DataTable::RowId)> showTask;
    };

    // settingsFile: Corvantis.ini, for the options; storeRoot: the folder of the reminder logs
    // (ReminderStore::defaultRoot()); bus: the session bus (QDBusConnection::sessionBus()).
    ReminderCenter(const QString& settingsFile, const QString& storeRoot,
                   const QDBusConnection& bus, QObject* parent = nullptr);
    ~ReminderCenter() override;

    // Where a reminder goes when neither a notification service nor a tray takes it: one line
    // each.
    void setStatusMessage(std::function<void(const QString&)> show) {
        m_statusMessage = std::move(show);
    }

    // Begins reminding, once the windows stand: the lists open now are looked at at once.
    void start();
    // A list was opened (or made); a list opened after the reminder time is looked at at once.
    void addList(const List& list);
    // The list is closing; its notifications are taken off the screen. A table destroyed is
    // removed by itself.
    void removeList(DataTable* table);

    ReminderSettings::Options options() const { return m_options; }
    // Applies the options for this run and writes them into the settings file. Throws
    // CorvantisError when the file cannot be written (the options are in force all the same).
    void setOptions(const ReminderSettings::Options& options);

    // What the timer does each time it fires: the reminders due by the clock now.
    void checkClock();

    DesktopNotifier& notifier() { return *m_notifier; }

    inline static const QString CompleteAction = QStringLiteral("complete");
    inline static const QString TomorrowAction = QStringLiteral("tomorrow");
    inline static const QString DefaultAction = QStringLiteral("default");

signals:
    // A reminder was shown without the notification service: in the tray or the status bar.
    void shownWithoutService(const QString& text);

private:
    struct Watched;
    struct Sent {
        DataTable* table = nullptr;
        std::vector<ReminderPlanner::DueTask> tasks;
    };

    Watched* find(DataTable* table) const;
    // The list's tasks changed what is due: it is looked at again, soon.
    void replan(DataTable* table);
    void check(Watched& watched, const QDate& today);
    void readLog(Watched& watched);
    void keepLog(Watched& watched, const QDate& today);
    void send(Watched& watched, ReminderPlanner::Notice notice);
    void actionInvoked(quint32 id, const QString& action);
    void complete(Watched& watched, const Sent& sent);
    void snooze(Watched& watched, const Sent& sent);
    void show(const Sent& sent);
    // A notification no service took: gathered and shown in the tray or the status bar.
    void fallBack(const Sent& sent, const ReminderPlanner::Notice& notice);
    void showFallBacks();
    void armTimer(const QDateTime& now);
    void status(const QString& text);

    QString m_settingsFile;
    ReminderStore m_store;
    ReminderSettings::Options m_options;
    DesktopNotifier* m_notifier;
    QTimer* m_timer;
    QTimer* m_replan; // the lists changed since their look are looked at again
    bool m_started = false;
    std::vector<std::unique_ptr<Watched>> m_lists;
    QHash<quint32, Sent> m_sent; // notifications on the screen
    std::function<void(const QString&)> m_statusMessage;

    QSystemTrayIcon* m_tray = nullptr;
    QTimer* m_trayHide = nullptr;
    Sent m_trayTarget;
    QStringList m_fallBackLines;
    QString m_fallBackTitle;
    Sent m_fallBackTarget;
    int m_fallBackCount = 0;
};

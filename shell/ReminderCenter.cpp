#include "shell/ReminderCenter.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "reminders/DesktopNotifier.h"
#include "reminders/DueDateIndex.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"

#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

namespace {
// The timer looks at the clock at least this often, so a suspended machine or a clock set
// forward is noticed within a minute.
constexpr int LongestWaitMs = 60 * 1000;
// How long a tray balloon stays, and the tray icon with it.
constexpr int TrayMessageMs = 15 * 1000;

const QStringList TaskActions = {ReminderCenter::DefaultAction,  QString(),
                                 ReminderCenter::CompleteAction, QStringLiteral("Complete"),
                                 ReminderCenter::TomorrowAction, QStringLiteral("Tomorrow")};
const QStringList SummaryActions = {ReminderCenter::DefaultAction, QString(),
                                    ReminderCenter::TomorrowAction, QStringLiteral("Tomorrow")};
} // namespace

struct ReminderCenter::Watched {
    List list;
    std::unique_ptr<DueDateIndex> index;
    ReminderLog log;
    QString logFile; // the list file the log was read for; empty: never saved
    QDate checkedOn;
};

ReminderCenter::ReminderCenter(const QString& settingsFile, const QString& storeRoot,
                               const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_settingsFile(settingsFile), m_store(storeRoot),
      m_notifier(new DesktopNotifier(bus, this)), m_timer(new QTimer(this)),
      m_replan(new QTimer(this)) {
    // An unreadable settings file is reported once, by the Categories window that reads it too.
    m_options = ReminderSettings::Read(settingsFile);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::VeryCoarseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { RunGuarded([this] { checkClock(); }); });
    // Many changes at once (an import, a list read again) give one look, a moment later: the
    // window shows the change first (a look over a large import reads the whole log).
    m_replan->setSingleShot(true);
    m_replan->setInterval(1000);
    connect(m_replan, &QTimer::timeout, this, [this] { RunGuarded([this] { checkClock(); }); });
    connect(m_notifier, &DesktopNotifier::actionInvoked, this,
            [this](quint32 id, const QString& action) {
                RunGuarded([&] { actionInvoked(id, action); });
            });
    connect(m_notifier, &DesktopNotifier::closed, this, [this](quint32 id) { m_sent.remove(id); });
}

ReminderCenter::~ReminderCenter() = default;

ReminderCenter::Watched* ReminderCenter::find(DataTable* table) const {
    for (const auto& watched : m_lists)
        if (watched->list.table == table)
            return watched.get();
    return nullptr;
}

void ReminderCenter::start() {
    m_started = true;
    QTimer::singleShot(0, this, [this] { RunGuarded([this] { checkClock(); }); });
}

void ReminderCenter::addList(const List& list) {
    if (!list.table || find(list.table))
        return;
    auto watched = std::make_unique<Watched>();
    watched->list = list;
    watched->index = std::make_unique<DueDateIndex>(list.table);
    connect(list.table, &QObject::destroyed, this,
            [this, table = list.table] { removeList(table); });
    connect(watched->index.get(), &DueDateIndex::entriesChanged, this,
            [this, table = list.table] { replan(table); });
    m_lists.push_back(std::move(watched));
    if (m_started)
        QTimer::singleShot(0, this, [this] { RunGuarded([this] { checkClock(); }); });
}

void ReminderCenter::replan(DataTable* table) {
    // What was reminded today is in the log: only what came due since is reminded.
    if (Watched* watched = find(table))
        watched->checkedOn = QDate();
    if (m_started && !m_replan->isActive())
        m_replan->start();
}

void ReminderCenter::removeList(DataTable* table) {
    for (auto it = m_sent.begin(); it != m_sent.end();) {
        if (it->table == table) {
            m_notifier->close(it.key());
            it = m_sent.erase(it);
        } else {
            ++it;
        }
    }
    if (m_trayTarget.table == table)
        m_trayTarget = {};
    if (m_fallBackTarget.table == table)
        m_fallBackTarget = {};
    m_lists.erase(std::remove_if(m_lists.begin(), m_lists.end(),
                                 [table](const auto& w) { return w->list.table == table; }),
                  m_lists.end());
    if (table)
        disconnect(table, &QObject::destroyed, this, nullptr);
}

void ReminderCenter::setOptions(const ReminderSettings::Options& options) {
    m_options = options;
    QTimer::singleShot(0, this, [this] { RunGuarded([this] { checkClock(); }); });
    ReminderSettings::Save(m_settingsFile, options);
}

void ReminderCenter::armTimer(const QDateTime& now) {
    QDateTime next(now.date(), m_options.time);
    if (!next.isValid() || next <= now)
        next = QDateTime(now.date().addDays(1), m_options.time);
    const qint64 wait = next.isValid() ? now.msecsTo(next) : LongestWaitMs;
    m_timer->start(int(std::clamp<qint64>(wait, 1000, LongestWaitMs)));
}

void ReminderCenter::checkClock() {
    const QDateTime now = uGeneral::Now();
    if (!m_started || !m_options.enabled) {
        m_timer->stop();
        return;
    }
    armTimer(now);
    if (!ReminderPlanner::ReminderTimeReached(now, m_options.time))
        return;
    const QDate today = now.date();
    // A list may close while its reminders go out: look each one up afresh.
    std::vector<DataTable*> tables;
    for (const auto& watched : m_lists)
        tables.push_back(watched->list.table);
    for (DataTable* table : tables)
        if (Watched* watched = find(table); watched && watched->checkedOn != today)
            check(*watched, today);
}

void ReminderCenter::readLog(Watched& watched) {
    // Read afresh each time: another run of the program may have reminded of the same list.
    // A list saved under a new name keeps what was reminded of it under the old one.
    watched.logFile = watched.list.fileName ? watched.list.fileName() : QString();
    if (!watched.logFile.isEmpty())
        watched.log.merge(m_store.load(watched.logFile));
}

void ReminderCenter::keepLog(Watched& watched, const QDate& today) {
    if (watched.logFile.isEmpty()) {
        watched.log.prune(today);
        return;
    }
    try {
        m_store.update(watched.logFile, watched.log, today);
    } catch (const CorvantisError& failure) {
        status(QStringLiteral("Reminders cannot be noted: ") + failure.message());
    }
}

void ReminderCenter::check(Watched& watched, const QDate& today) {
    watched.checkedOn = today;
    readLog(watched);
    std::vector<ReminderPlanner::DueTask> due =
        ReminderPlanner::DueTasks(*watched.index, watched.log, today);
    if (due.empty())
        return;
    // Noted before they go out: a slow service must not make the next look remind again.
    for (const ReminderPlanner::DueTask& task : due)
        watched.log.markReminded(task.mark, today);
    keepLog(watched, today);
    const QString caption = watched.list.caption ? watched.list.caption() : QString();
    for (ReminderPlanner::Notice& notice :
         ReminderPlanner::Notices(*watched.list.table, std::move(due), caption, today))
        send(watched, std::move(notice));
}

void ReminderCenter::send(Watched& watched, ReminderPlanner::Notice notice) {
    DesktopNotifier::Notice message;
    message.summary = notice.summary;
    message.body = notice.body;
    message.actions = notice.isSummary() ? SummaryActions : TaskActions;
    Sent sent{watched.list.table, notice.tasks};
    m_notifier->send(message, [this, sent, notice](quint32 id) {
        if (id == 0)
            fallBack(sent, notice);
        else if (find(sent.table))
            m_sent.insert(id, sent);
        else
            m_notifier->close(id); // the list closed while the notification was on its way
    });
}

void ReminderCenter::actionInvoked(quint32 id, const QString& action) {
    const auto it = m_sent.constFind(id);
    if (it == m_sent.cend())
        return;
    const Sent sent = it.value();
    Watched* watched = find(sent.table);
    if (!watched)
        return;
    if (action == CompleteAction) {
        m_sent.remove(id);
        m_notifier->close(id);
        complete(*watched, sent);
    } else if (action == TomorrowAction) {
        m_sent.remove(id);
        m_notifier->close(id);
        snooze(*watched, sent);
    } else if (action == DefaultAction) {
        show(sent);
    }
}

void ReminderCenter::complete(Watched& watched, const Sent& sent) {
    if (sent.tasks.size() != 1 || !watched.list.completeTask)
        return;
    const DataTable::RowId row = sent.tasks.front().row;
    if (watched.list.table->currentVersionOf(row) < 0) {
        status(QStringLiteral("The task is no longer in the list."));
        return;
    }
    // Completed or cancelled meanwhile: nothing is left to do.
    if (!ReminderPlanner::IsClosed(*watched.list.table, row))
        watched.list.completeTask(row);
}

void ReminderCenter::snooze(Watched& watched, const Sent& sent) {
    const QDate today = uGeneral::Today();
    readLog(watched);
    for (const ReminderPlanner::DueTask& task : sent.tasks) {
        const ReminderPlanner::DueTask now = ReminderPlanner::TaskAt(*watched.list.table, task.row);
        if (now.row >= 0)
            watched.log.snooze(now.mark, today.addDays(1));
    }
    keepLog(watched, today);
}

void ReminderCenter::show(const Sent& sent) {
    Watched* watched = find(sent.table);
    if (!watched || !watched->list.showTask)
        return;
    DataTable::RowId row = -1;
    if (!sent.tasks.empty() && watched->list.table->currentVersionOf(sent.tasks.front().row) >= 0)
        row = sent.tasks.front().row;
    watched->list.showTask(row);
}

void ReminderCenter::fallBack(const Sent& sent, const ReminderPlanner::Notice& notice) {
    // The notifications of one look arrive together: they are shown as one message.
    if (m_fallBackCount++ == 0) {
        m_fallBackTarget = sent;
        m_fallBackTitle = notice.summary;
        QTimer::singleShot(0, this, [this] { RunGuarded([this] { showFallBacks(); }); });
    }
    m_fallBackLines << notice.summary + QStringLiteral(": ") +
                           notice.body.split(u'\n').join(QStringLiteral(" - "));
}

void ReminderCenter::showFallBacks() {
    const QStringList lines = std::exchange(m_fallBackLines, {});
    const int count = std::exchange(m_fallBackCount, 0);
    const Sent target = std::exchange(m_fallBackTarget, {});
    if (lines.isEmpty())
        return;
    const QString text = lines.join(u'\n');
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!m_tray) {
            m_tray = new QSystemTrayIcon(ThemeIcon(ApplicationId()), this);
            m_tray->setObjectName(QStringLiteral("trayReminders"));
            m_tray->setToolTip(QStringLiteral("Corvantis"));
            connect(m_tray, &QSystemTrayIcon::messageClicked, this,
                    [this] { RunGuarded([this] { show(m_trayTarget); }); });
            m_trayHide = new QTimer(this);
            m_trayHide->setSingleShot(true);
            connect(m_trayHide, &QTimer::timeout, m_tray, &QSystemTrayIcon::hide);
        }
        m_trayTarget = target;
        m_tray->show();
        const QString title =
            count == 1 ? m_fallBackTitle : QStringLiteral("%1 reminders").arg(count);
        m_tray->showMessage(title, text, ThemeIcon(ApplicationId()), TrayMessageMs);
        m_trayHide->start(TrayMessageMs + 1000);
    } else {
        status(text);
    }
    emit shownWithoutService(text);
}

void ReminderCenter::status(const QString& text) {
    if (m_statusMessage)
        m_statusMessage(text);
}

#include "shell/SyncCenter.h"

#include "base/CorvantisError.h"
#include "dialogs/uFrmCertificate.h"
#include "dialogs/uFrmConflicts.h"
#include "dialogs/uFrmSyncSettings.h"
#include "document/ListDocument.h"
#include "shell/ListSync.h"
#include "shell/Unit1.h"
#include "sync/SyncPassword.h"
#include "view/uFrTasks.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"
#include "widgets/Prompt.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace {

// The footer is one line high: a long message is cut there and shown whole as its hint.
constexpr int FooterTextWidth = 640;

const QString NoFileMessage =
    QStringLiteral("Save the list first: a list syncs once it has a file of its own.");

} // namespace

SyncCenter::SyncCenter(TfrmMain& main, std::function<bool(const std::function<void()>&)> runCommand)
    : QObject(&main), m_main(main), m_runCommand(std::move(runCommand)) {
    actSyncSettings = new QAction(ThemeIcon(QStringLiteral("folder-sync")),
                                  QStringLiteral("Sync Se&ttings..."), &main);
    actSyncSettings->setObjectName(QStringLiteral("actSyncSettings"));
    actSync =
        new QAction(ThemeIcon(QStringLiteral("view-refresh")), QStringLiteral("S&ync"), &main);
    actSync->setObjectName(QStringLiteral("actSync"));
    connect(actSyncSettings, &QAction::triggered, this,
            [this] { m_runCommand([this] { actSyncSettingsExecute(); }); });
    connect(actSync, &QAction::triggered, this,
            [this] { m_runCommand([this] { actSyncExecute(); }); });

    pnlSync = new QWidget(&main);
    pnlSync->setObjectName(QStringLiteral("pnlSync"));
    auto* layout = new QHBoxLayout(pnlSync);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    pbSync = new QProgressBar(pnlSync);
    pbSync->setObjectName(QStringLiteral("pbSync"));
    pbSync->setFixedSize(80, 12);
    pbSync->setTextVisible(false);
    lblSync = new QLabel(pnlSync);
    lblSync->setObjectName(QStringLiteral("lblSync"));
    lblSync->setTextFormat(Qt::PlainText);
    btnSyncCancel = new QToolButton(pnlSync);
    btnSyncCancel->setObjectName(QStringLiteral("btnSyncCancel"));
    btnSyncCancel->setText(QStringLiteral("Cancel"));
    btnSyncCancel->setIcon(ThemeIcon(QStringLiteral("process-stop")));
    btnSyncCancel->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnSyncCancel->setIconSize(QSize(12, 12));
    btnSyncCancel->setAutoRaise(true);
    btnSyncCancel->setFixedHeight(20);
    layout->addWidget(pbSync);
    layout->addWidget(lblSync);
    layout->addWidget(btnSyncCancel);
    ConnectGuarded(btnSyncCancel, &QToolButton::clicked, this, &SyncCenter::btnSyncCancelClick);
    // Nothing to tell before a list syncs.
    for (QWidget* part : {static_cast<QWidget*>(pbSync), static_cast<QWidget*>(lblSync),
                          static_cast<QWidget*>(btnSyncCancel)})
        part->hide();
}

void SyncCenter::CreateSettingsWindow() {
    frmSyncSettings = new TfrmSyncSettings(&m_main);
}

SyncCenter::~SyncCenter() = default;

ListSync* SyncCenter::SyncOf(const TfrTasks* view) {
    return view ? view->document()->findChild<ListSync*>(QString(), Qt::FindDirectChildrenOnly)
                : nullptr;
}

void SyncCenter::AddList(TfrTasks* view) {
    if (!m_followsTabs) {
        // The footer shows the active list's sync.
        connect(m_main.PageControl(), &QTabWidget::currentChanged, this, &SyncCenter::showFooter);
        m_followsTabs = true;
    }
    auto* sync = new ListSync(*view);
    const QPointer<ListSync> guard(sync);
    connect(sync, &ListSync::wanted, this, [this, guard] {
        if (guard)
            startSync(*guard, false);
    });
    connect(sync, &ListSync::progress, this, &SyncCenter::showFooter);
    connect(sync, &ListSync::finished, this,
            [this, guard](const CalDavClient::Failure& failure, const CalDavSync::Summary&) {
                if (guard)
                    finished(*guard, failure);
            });
    connect(sync, &QObject::destroyed, this, [this, sync] {
        m_chosen.remove(sync);
        QTimer::singleShot(0, this, &SyncCenter::showFooter);
    });
    sync->setAsk([this, guard](const std::vector<MergeConflict>& conflicts,
                               std::function<void(const MergeChoices&)> answer) {
        // Out of the network's callback before a window waits for the user.
        QTimer::singleShot(0, this, [this, guard, conflicts, answer] {
            if (guard)
                ask(*guard, conflicts, answer);
        });
    });
    showFooter();
    // A list that syncs is brought up to date as it opens.
    sync->want();
}

ListSync& SyncCenter::requireSync() {
    TfrTasks* view = m_main.ActiveTaskView();
    if (!view)
        TfrmMain::RequireOpenList();
    ListSync* sync = SyncOf(view);
    if (!sync || !sync->hasFile())
        throw CorvantisError(NoFileMessage);
    return *sync;
}

QString SyncCenter::accountKey(const ListSync& sync) {
    const SyncState::Settings settings = sync.settings();
    return SyncPassword::Key(settings.userName,
                             settings.server.isEmpty() ? settings.calendar : settings.server);
}

void SyncCenter::withPassword(ListSync& sync, std::function<void(const QString&)> then) {
    const QString key = accountKey(sync);
    if (m_passwords.contains(key)) {
        then(m_passwords.value(key));
        return;
    }
    // The keyring may answer after the list, or the window, is gone.
    const QPointer<ListSync> guard(&sync);
    const QPointer<SyncCenter> self(this);
    SyncPassword::Read(
        key, [self, guard, key, then](const QString& error, bool found, const QString& password) {
            // No keyring, or no password kept for the account: a server that wants one says so,
            // and the settings window asks for it.
            Q_UNUSED(error);
            if (!self)
                return;
            if (found)
                self->m_passwords.insert(key, password);
            if (guard)
                then(found ? password : self->m_passwords.value(key));
        });
}

void SyncCenter::actSyncSettingsExecute() {
    ListSync& sync = requireSync();
    if (!frmSyncSettings)
        return;
    const QPointer<ListSync> guard(&sync);
    withPassword(sync, [this, guard](const QString& password) {
        // Out of the keyring's callback before the window waits for the user.
        QTimer::singleShot(0, this, [this, guard, password] {
            if (guard)
                showSettings(*guard, password, QString(), true);
        });
    });
}

void SyncCenter::actSyncExecute() {
    ListSync& sync = requireSync();
    if (!sync.isEnabled()) {
        // Nothing to sync with yet: the settings come first, and OK syncs.
        actSyncSettingsExecute();
        return;
    }
    startSync(sync, true);
}

void SyncCenter::btnSyncCancelClick() {
    if (ListSync* sync = SyncOf(m_main.ActiveTaskView()))
        sync->cancel();
}

void SyncCenter::startSync(ListSync& sync, bool chosen) {
    if (sync.isRunning())
        return;
    if (chosen)
        m_chosen.insert(&sync);
    const QPointer<ListSync> guard(&sync);
    withPassword(sync, [guard](const QString& password) {
        if (guard)
            guard->start(password);
    });
}

void SyncCenter::showSettings(ListSync& sync, const QString& password, const QString& note,
                              bool chosen) {
    if (!frmSyncSettings)
        return;
    const QString before = sync.settings().calendar.isEmpty() ? QString() : password;
    const std::optional<TfrmSyncSettings::Choice> choice =
        frmSyncSettings->Ask(sync.listName(), sync.settings(), password, note);
    if (!choice)
        return;
    if (!RunGuarded([&] { sync.setSettings(choice->settings); }))
        return;
    keepPassword(accountKey(sync), choice->password, before, choice->passwordAccepted);
    if (sync.isEnabled())
        startSync(sync, chosen);
    showFooter();
}

void SyncCenter::keepPassword(const QString& key, const QString& password, const QString& before,
                              bool accepted) {
    const bool known = m_passwords.contains(key);
    m_passwords.insert(key, password);
    m_unconfirmed.remove(key);
    if (known && password == before)
        return;
    if (accepted)
        writePassword(key, password);
    else
        m_unconfirmed.insert(key, password);
}

void SyncCenter::writePassword(const QString& key, const QString& password) {
    const auto told = [](const QString& error) {
        if (!error.isEmpty())
            Prompt::Notice(error + QStringLiteral(". It is used until Corvantis ends."));
    };
    if (password.isEmpty())
        SyncPassword::Remove(key, told);
    else
        SyncPassword::Write(key, password, told);
}

void SyncCenter::finished(ListSync& sync, const CalDavClient::Failure& failure) {
    const bool chosen = m_chosen.remove(&sync);
    showFooter();
    const QString key = accountKey(sync);
    if (m_unconfirmed.contains(key) && m_unconfirmed.value(key) == m_passwords.value(key)) {
        if (sync.passwordAccepted()) {
            writePassword(key, m_unconfirmed.take(key));
        } else if (failure.kind == CalDavClient::Failure::Unauthorized) {
            // Refused: forgotten, so the kept password is the one asked about next.
            m_unconfirmed.remove(key);
            m_passwords.remove(key);
        }
    }
    if (!failure) {
        sync.lastShownFailure().clear();
        return;
    }
    if (failure.kind == CalDavClient::Failure::Cancelled)
        return;
    QString message = failure.message;
    if (!message.contains(sync.serverName()))
        message = QStringLiteral("The sync with %1 stopped: %2").arg(sync.serverName(), message);
    if (!chosen && message == sync.lastShownFailure())
        return; // said already; the footer still tells it
    sync.lastShownFailure() = message;
    const QPointer<ListSync> guard(&sync);
    const bool refused = failure.kind == CalDavClient::Failure::Unauthorized;
    // Out of the network's callback before a window waits for the user.
    QTimer::singleShot(0, this, [this, guard, message, refused, chosen, failure] {
        if (guard && failure.kind == CalDavClient::Failure::Tls && !failure.certificate.isNull()) {
            // The certificate is shown rather than an error; once trusted, the sync runs again.
            const SyncState::Settings settings = guard->settings();
            const QUrl server = settings.server.isEmpty() ? settings.calendar : settings.server;
            bool trusted = false;
            if (RunGuarded(
                    [&] { trusted = TfrmCertificate::OfferTrust(&m_main, server, failure); }) &&
                trusted && guard)
                startSync(*guard, chosen);
            return;
        }
        Prompt::Error(message);
        if (guard && refused)
            withPassword(*guard, [this, guard, message, chosen](const QString& password) {
                if (guard)
                    showSettings(*guard, password,
                                 message + QStringLiteral(". Type the password again."), chosen);
            });
    });
}

void SyncCenter::ask(ListSync& sync, const std::vector<MergeConflict>& conflicts,
                     const std::function<void(const MergeChoices&)>& answer) {
    TfrmConflicts window(&m_main);
    window.setWindowTitle(QStringLiteral("Conflicts - ") + sync.listName());
    const std::optional<MergeChoices> choices =
        window.Execute(conflicts, QStringLiteral("the calendar on %1").arg(sync.serverName()));
    answer(choices.value_or(MergeChoices()));
}

void SyncCenter::showFooter() {
    const ListSync* sync = SyncOf(m_main.ActiveTaskView());
    const QString status = sync ? sync->status() : QString();
    const bool running = sync && sync->isRunning();
    lblSync->setText(lblSync->fontMetrics().elidedText(status, Qt::ElideRight, FooterTextWidth));
    lblSync->setToolTip(lblSync->text() == status ? QString() : status);
    lblSync->setVisible(!status.isEmpty());
    pbSync->setVisible(running);
    btnSyncCancel->setVisible(running);
    if (running) {
        pbSync->setRange(0, sync->total()); // no count: a busy bar
        pbSync->setValue(sync->done());
    }
}

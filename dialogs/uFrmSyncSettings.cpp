#include "dialogs/uFrmSyncSettings.h"

#include "base/CorvantisError.h"
#include "dialogs/uFrmCertificate.h"
#include "sync/DavMultistatus.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"
#include "widgets/Prompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace {

constexpr int BoxX = 120;
constexpr int BoxWidth = 364;

// Plain http to this machine goes nowhere; to any other, anyone on the way can read it.
bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           QHostAddress(host).isLoopback();
}

QString calendarName(const CalDavClient::Calendar& calendar) {
    if (!calendar.displayName.trimmed().isEmpty())
        return calendar.displayName.trimmed();
    return calendar.url.path();
}

} // namespace

TfrmSyncSettings::TfrmSyncSettings(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmSyncSettings"), QStringLiteral("Sync Settings"),
          QSize(500, 300), Frame::Fixed);
    m_client = new CalDavClient(this);

    const auto addBox = [this](const QString& name, const QString& caption, int y, int width) {
        QLabel* label = AddLabel(this, QStringLiteral("lbl") + name.mid(3), caption, {16, y + 3});
        auto* box = new QLineEdit(this);
        box->setObjectName(name);
        box->setGeometry(BoxX, y, width, 21);
        label->setBuddy(box);
        PlaceInRow({{label, 16, Natural}, {box, BoxX, width}});
        return box;
    };
    edtServer = addBox(QStringLiteral("edtServer"), QStringLiteral("Server address"), 16, BoxWidth);
    edtServer->setPlaceholderText(QStringLiteral("https://example.org/dav/"));
    edtUserName = addBox(QStringLiteral("edtUserName"), QStringLiteral("User name"), 44, 180);
    edtPassword = addBox(QStringLiteral("edtPassword"), QStringLiteral("Password"), 72, 180);
    edtPassword->setEchoMode(QLineEdit::Password);
    AddLabel(this, QStringLiteral("lblKeyring"), QStringLiteral("Kept in the desktop's keyring"),
             {BoxX + 188, 75})
        ->setEnabled(false);

    btnFindCalendars = AddButton(this, QStringLiteral("btnFindCalendars"),
                                 QStringLiteral("Find calendars"), {BoxX, 104});
    btnNewCalendar = AddButton(this, QStringLiteral("btnNewCalendar"),
                               QStringLiteral("New calendar..."), {BoxX + 116, 104});
    for (QPushButton* button : {btnFindCalendars, btnNewCalendar})
        button->resize(std::max(110, button->sizeHint().width()), 25);
    btnNewCalendar->move(btnFindCalendars->geometry().right() + 7, 104);

    QLabel* calendarLabel =
        AddLabel(this, QStringLiteral("lblCalendar"), QStringLiteral("Calendar"), {16, 143});
    cbCalendar = new QComboBox(this);
    cbCalendar->setObjectName(QStringLiteral("cbCalendar"));
    cbCalendar->setGeometry(BoxX, 140, BoxWidth, 22);
    calendarLabel->setBuddy(cbCalendar);
    PlaceInRow({{calendarLabel, 16, Natural}, {cbCalendar, BoxX, BoxWidth}});

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setGeometry(BoxX, 166, BoxWidth, 40);
    lblStatus->setWordWrap(true);
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    cbEnabled = new QCheckBox(QStringLiteral("Sync this list"), this);
    cbEnabled->setObjectName(QStringLiteral("cbEnabled"));
    cbEnabled->move(BoxX, 216);
    cbEnabled->adjustSize();
    QLabel* every =
        AddLabel(this, QStringLiteral("lblEvery"), QStringLiteral("every"), {BoxX + 130, 218});
    edtInterval = new QSpinBox(this);
    edtInterval->setObjectName(QStringLiteral("edtInterval"));
    edtInterval->setRange(1, 24 * 60);
    edtInterval->setGeometry(BoxX + 166, 214, 60, 21);
    every->setBuddy(edtInterval);
    QLabel* minutes =
        AddLabel(this, QStringLiteral("lblMinutes"), QStringLiteral("minutes"), {BoxX + 232, 218});
    PlaceInRow({{cbEnabled, BoxX, Natural},
                {every, BoxX + 130, Natural},
                {edtInterval, BoxX + 166, 60},
                {minutes, BoxX + 232, Natural}});

    btnOK = AddButton(this, QStringLiteral("btnOK"), QStringLiteral("OK"), {328, 258});
    btnOK->setDefault(true);
    QPushButton* cancel =
        AddButton(this, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {409, 258});

    ConnectGuarded(btnFindCalendars, &QPushButton::clicked, this,
                   &TfrmSyncSettings::btnFindCalendarsClick);
    ConnectGuarded(btnNewCalendar, &QPushButton::clicked, this,
                   &TfrmSyncSettings::btnNewCalendarClick);
    ConnectGuarded(btnOK, &QPushButton::clicked, this, &TfrmSyncSettings::btnOKClick);
    ConnectGuarded(cancel, &QPushButton::clicked, this, &TfrmSyncSettings::btnCancelClick);
    ConnectGuarded(cbEnabled, &QCheckBox::toggled, this, &TfrmSyncSettings::cbEnabledClick);
    ConnectGuarded(edtServer, &QLineEdit::textChanged, this, &TfrmSyncSettings::serverChanged);
    for (QLineEdit* box : {edtUserName, edtPassword})
        ConnectGuarded(box, &QLineEdit::textChanged, this, &TfrmSyncSettings::credentialsChanged);
    ConnectGuarded(cbCalendar, &QComboBox::currentIndexChanged, this, &TfrmSyncSettings::updateOK);
    Load(SyncState::Settings(), QString());
}

TfrmSyncSettings::~TfrmSyncSettings() = default;

std::optional<TfrmSyncSettings::Choice> TfrmSyncSettings::Ask(const QString& listName,
                                                              const SyncState::Settings& settings,
                                                              const QString& password,
                                                              const QString& note) {
    setWindowTitle(listName.isEmpty() ? QStringLiteral("Sync Settings")
                                      : QStringLiteral("Sync Settings - ") + listName);
    Load(settings, password);
    if (!note.isEmpty()) {
        say(note, true);
        edtPassword->setFocus();
        edtPassword->selectAll();
    } else {
        edtServer->setFocus();
    }
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return Chosen();
}

void TfrmSyncSettings::Load(const SyncState::Settings& settings, const QString& password) {
    m_client->cancel();
    setBusy(false);
    m_loading = true;
    edtServer->setText(settings.server.isEmpty() ? settings.calendar.toString()
                                                 : settings.server.toString());
    m_loading = false;
    edtUserName->setText(settings.userName);
    edtPassword->setText(password);
    cbCalendar->clear();
    m_home.clear();
    m_calendarsFor = typedUrl();
    m_plainAllowed.clear();
    m_triedAt.clear();
    m_searchFailed = false;
    // A calendar on another server than the one shown is not this address's.
    if (!settings.calendar.isEmpty() && belongsHere(settings.calendar))
        addCalendar({settings.calendar, QString(), {}});
    cbEnabled->setChecked(settings.enabled);
    edtInterval->setValue(settings.intervalMinutes);
    cbEnabledClick();
    say(QString());
    updateOK();
}

TfrmSyncSettings::Choice TfrmSyncSettings::Chosen() const {
    Choice choice;
    choice.settings.server = typedUrl();
    choice.settings.calendar = QUrl(cbCalendar->currentData().toString());
    if (!belongsHere(choice.settings.calendar))
        choice.settings.calendar.clear();
    choice.settings.userName = edtUserName->text().trimmed();
    choice.settings.enabled = cbEnabled->isChecked();
    choice.settings.intervalMinutes = edtInterval->value();
    choice.password = edtPassword->text();
    // Only a password the server took from this window, for this account, counts as checked.
    choice.passwordAccepted = m_client->credentialsAccepted() && !m_triedAt.isEmpty() &&
                              Dav::SameOrigin(m_triedAt, choice.settings.server) &&
                              m_triedUser == choice.settings.userName &&
                              m_triedPassword == choice.password;
    return choice;
}

QString TfrmSyncSettings::Status() const {
    return lblStatus->text();
}

QUrl TfrmSyncSettings::serverUrl() const {
    const QString typed = edtServer->text().trimmed();
    const QUrl url = QUrl::fromUserInput(typed);
    if (typed.isEmpty())
        throw CorvantisError(QStringLiteral("Type the address of the CalDAV server first."));
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        throw CorvantisError(QStringLiteral("\"%1\" is not the address of a server.").arg(typed));
    return url;
}

QUrl TfrmSyncSettings::typedUrl() const {
    const QString typed = edtServer->text().trimmed();
    return typed.isEmpty() ? QUrl() : QUrl::fromUserInput(typed);
}

bool TfrmSyncSettings::belongsHere(const QUrl& calendar) const {
    const QUrl shown = typedUrl();
    return !calendar.isEmpty() && !shown.isEmpty() && Dav::SameOrigin(calendar, shown);
}

void TfrmSyncSettings::serverChanged() {
    if (m_loading || typedUrl() == m_calendarsFor)
        return;
    // The calendars found, and a search under way, were for the address as it was.
    if (m_busy) {
        m_client->cancel();
        setBusy(false);
    }
    m_pendingCalendar.clear();
    cbCalendar->clear();
    m_home.clear();
    m_calendarsFor.clear();
    m_searchFailed = false;
    say(QString()); // what was said was about the old address
    updateOK();
}

void TfrmSyncSettings::credentialsChanged() {
    m_searchFailed = false;
    updateOK();
}

void TfrmSyncSettings::updateOK() {
    const QString calendar = cbCalendar->currentData().toString();
    // Without a calendar, OK looks for one at the address: not again once that search failed.
    const bool usable = calendar.isEmpty() ? !(m_searchFailed && cbEnabled->isChecked())
                                           : belongsHere(QUrl(calendar));
    btnOK->setEnabled(!m_busy && usable);
}

void TfrmSyncSettings::useCredentials(const QUrl& url) {
    m_triedAt = url;
    m_triedUser = edtUserName->text().trimmed();
    m_triedPassword = edtPassword->text();
    m_client->setCredentials(m_triedUser, m_triedPassword);
    m_client->setOrigin(url);
}

bool TfrmSyncSettings::allowPlain(const QUrl& url) {
    if (url.scheme() != QLatin1String("http") || isLoopback(url) ||
        (!m_plainAllowed.isEmpty() && Dav::SameOrigin(url, m_plainAllowed)))
        return true;
    const int chosen = Prompt::ChooseCautiously(
        QStringLiteral("%1 is a plain http address: the password and the tasks would travel to "
                       "%2 unencrypted, readable by anyone on the way. Use an https address if "
                       "the server has one.")
            .arg(url.toString(), CalDavClient::ServerName(url)),
        {QStringLiteral("Send over http"), QStringLiteral("Cancel")});
    if (chosen != 0)
        return false;
    m_plainAllowed = url;
    return true;
}

void TfrmSyncSettings::offerTrust(const QUrl& url, const CalDavClient::Failure& failure,
                                  std::function<void()> retry) {
    if (failure.kind != CalDavClient::Failure::Tls || failure.certificate.isNull())
        return;
    // Out of the network's callback before a window waits for the user.
    QTimer::singleShot(0, this, [this, url, failure, retry] {
        RunGuarded([&] {
            if (typedUrl() == url && TfrmCertificate::OfferTrust(this, url, failure))
                retry();
        });
    });
}

void TfrmSyncSettings::setBusy(bool busy, const QString& status) {
    m_busy = busy;
    btnFindCalendars->setEnabled(!busy);
    btnNewCalendar->setEnabled(!busy);
    updateOK();
    if (busy)
        say(status);
}

void TfrmSyncSettings::say(const QString& text, bool failure) {
    lblStatus->setText(text);
    QPalette palette = lblStatus->palette();
    palette.setColor(QPalette::WindowText,
                     failure ? QColor(0xB0, 0, 0) : this->palette().color(QPalette::WindowText));
    lblStatus->setPalette(palette);
}

void TfrmSyncSettings::cbEnabledClick() {
    // How often means nothing while the list does not sync.
    edtInterval->setEnabled(cbEnabled->isChecked());
    updateOK();
}

void TfrmSyncSettings::btnFindCalendarsClick() {
    findCalendars(false);
}

void TfrmSyncSettings::findCalendars(bool thenAccept) {
    const QUrl url = serverUrl();
    if (!allowPlain(url)) {
        m_pendingCalendar.clear();
        return;
    }
    useCredentials(url);
    setBusy(
        true,
        QStringLiteral("Looking for task calendars on %1...").arg(CalDavClient::ServerName(url)));
    m_client->discover(url, [this, url, thenAccept](const CalDavClient::Failure& failure,
                                                    const CalDavClient::Discovery& found) {
        if (typedUrl() != url)
            return; // the address changed meanwhile: the answer is not about it
        m_searchFailed = bool(failure);
        setBusy(false);
        if (failure) {
            m_pendingCalendar.clear();
            say(failure.message, true);
            offerTrust(url, failure, [this, thenAccept] { findCalendars(thenAccept); });
        } else {
            m_calendarsFor = url;
            showCalendars(found, thenAccept);
        }
        emit serverAnswered();
    });
}

void TfrmSyncSettings::showCalendars(const CalDavClient::Discovery& found, bool thenAccept) {
    const QUrl chosen = QUrl(cbCalendar->currentData().toString());
    // The address may have been edited meanwhile: this callback must not fail on it.
    const QString server =
        CalDavClient::ServerName(QUrl::fromUserInput(edtServer->text().trimmed()));
    m_home = found.home;
    cbCalendar->clear();
    for (const CalDavClient::Calendar& calendar : found.calendars)
        addCalendar(calendar);
    selectCalendar(chosen);
    if (!m_pendingCalendar.isEmpty()) {
        const QString name = std::exchange(m_pendingCalendar, QString());
        if (m_home.isEmpty())
            say(QStringLiteral("%1 does not say where new calendars go.").arg(server), true);
        else
            makeCalendar(name);
        return;
    }
    const int count = cbCalendar->count();
    if (count == 0) {
        say(m_home.isEmpty() ? QStringLiteral("No task calendar was found on %1.").arg(server)
                             : QStringLiteral("No task calendar was found on %1: make one with New "
                                              "calendar...")
                                   .arg(server),
            true);
        return;
    }
    say(count == 1 ? QStringLiteral("One task calendar was found on %1.").arg(server)
                   : QStringLiteral("%1 task calendars were found on %2; choose the one for this "
                                    "list.")
                         .arg(count)
                         .arg(server));
    // OK without a calendar chosen looked for one: a single one found is the one meant.
    if (thenAccept && (count == 1 || found.givenCalendar))
        accept();
}

void TfrmSyncSettings::addCalendar(const CalDavClient::Calendar& calendar) {
    cbCalendar->addItem(calendarName(calendar), calendar.url.toString());
    cbCalendar->setItemData(cbCalendar->count() - 1, calendar.url.toString(), Qt::ToolTipRole);
}

void TfrmSyncSettings::selectCalendar(const QUrl& url) {
    const int index = cbCalendar->findData(url.toString());
    if (index >= 0)
        cbCalendar->setCurrentIndex(index);
}

void TfrmSyncSettings::btnNewCalendarClick() {
    serverUrl(); // an address is needed before a name is asked for
    const QString name =
        Prompt::InputBox(QStringLiteral("New calendar"),
                         QStringLiteral("The name of the new task calendar:"), QString())
            .trimmed();
    if (name.isEmpty())
        return;
    if (m_home.isEmpty()) {
        // The server tells where new calendars go.
        m_pendingCalendar = name;
        findCalendars(false);
        return;
    }
    makeCalendar(name);
}

void TfrmSyncSettings::makeCalendar(const QString& name) {
    const QUrl url = serverUrl();
    if (!allowPlain(url))
        return;
    useCredentials(url);
    setBusy(true, QStringLiteral("Making the calendar \"%1\" on %2...")
                      .arg(name, CalDavClient::ServerName(m_home)));
    m_client->makeCalendar(m_home, name,
                           [this, url, name](const CalDavClient::Failure& failure,
                                             const CalDavClient::Calendar& calendar) {
                               if (typedUrl() != url)
                                   return;
                               setBusy(false);
                               if (failure) {
                                   say(failure.message, true);
                                   offerTrust(url, failure, [this, name] { makeCalendar(name); });
                               } else {
                                   addCalendar(calendar);
                                   cbCalendar->setCurrentIndex(cbCalendar->count() - 1);
                                   say(QStringLiteral("The calendar \"%1\" was made on %2.")
                                           .arg(name, CalDavClient::ServerName(calendar.url)));
                               }
                               emit serverAnswered();
                           });
}

void TfrmSyncSettings::btnOKClick() {
    if (cbEnabled->isChecked() || !edtServer->text().trimmed().isEmpty())
        serverUrl();
    const QString calendar = cbCalendar->currentData().toString();
    if (!calendar.isEmpty() && !belongsHere(QUrl(calendar)))
        throw CorvantisError(QStringLiteral("The calendar %1 is not on the server %2: find the "
                                            "calendars of %2 first.")
                                 .arg(calendar, CalDavClient::ServerName(typedUrl())));
    if (cbEnabled->isChecked() && calendar.isEmpty()) {
        // No calendar chosen yet: the address may be one, or name the only one there is.
        findCalendars(true);
        return;
    }
    if (cbEnabled->isChecked() && !allowPlain(serverUrl()))
        return;
    accept();
}

void TfrmSyncSettings::btnCancelClick() {
    reject();
}

void TfrmSyncSettings::reject() {
    // Escape and the close box too: nothing waits for the server any longer.
    m_client->cancel();
    setBusy(false);
    QDialog::reject();
}

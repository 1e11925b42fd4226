#pragma once

#include "sync/CalDavClient.h"
#include "sync/SyncState.h"

#include <QDialog>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The Sync Settings window of one list: the server's address (a task calendar's, or a server's
// whose task calendars Find calendars lists through its principal and calendar home), the user
// name and password, the calendar the list syncs with (New calendar... makes one), whether the
// list syncs and how often. Finding and making calendars runs while the window stays
// responsive; Cancel gives every request up. The password is handed back to the opener, which
// keeps it in the desktop's keyring once the server has accepted it; the window writes nothing
// but the certificates the user chose to trust.
//
// A calendar belongs to the address shown: changing the address forgets the calendars found for
// the old one, and OK takes only a calendar of the server now shown. Plain http to another
// machine than this one is sent only after the user agreed to it, and a certificate the system
// does not trust is shown (TfrmCertificate) and trusted only when the user says so.
class TfrmSyncSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSyncSettings(QWidget* parent = nullptr);
    ~TfrmSyncSettings() override;

    struct Choice {
        SyncState::Settings settings;
        QString password;
        bool passwordAccepted = false; // the server accepted it in this window
    };
    // Shows the window modally on a list's settings and password; a note (why the window is
    // shown again, say a password the server refused) puts the focus in the password box. The
    // settings and password chosen by OK, none on Cancel.
    std::optional<Choice> Ask(const QString& listName, const SyncState::Settings& settings,
                              const QString& password, const QString& note = QString());

    void Load(const SyncState::Settings& settings, const QString& password);
    Choice Chosen() const;
    // Whether a request to the server is under way.
    bool IsBusy() const { return m_busy; }
    // What the window last said about the server.
    QString Status() const;

    void btnFindCalendarsClick();
    void btnNewCalendarClick();
    void btnOKClick();
    void btnCancelClick();

signals:
    // A request to the server ended (its outcome is in Status()).
    void serverAnswered();

protected:
    void reject() override;

private:
    // The address typed, as a URL; an error naming it when it is none.
    QUrl serverUrl() const;
    // The address typed as it reads, valid or not.
    QUrl typedUrl() const;
    // Whether a calendar is on the server shown.
    bool belongsHere(const QUrl& calendar) const;
    void serverChanged();
    // The user name or password was edited: a search that failed with the old ones may succeed.
    void credentialsChanged();
    void updateOK();
    // The credentials typed, for requests to this address.
    void useCredentials(const QUrl& url);
    // False when the address is plain http to another machine and the user did not agree.
    bool allowPlain(const QUrl& url);
    // A failure for a certificate the system does not trust: offers to trust it, and runs
    // `retry` once it is.
    void offerTrust(const QUrl& url, const CalDavClient::Failure& failure,
                    std::function<void()> retry);
    void findCalendars(bool thenAccept);
    void showCalendars(const CalDavClient::Discovery& found, bool thenAccept);
    void makeCalendar(const QString& name);
    void addCalendar(const CalDavClient::Calendar& calendar);
    void selectCalendar(const QUrl& url);
    void setBusy(bool busy, const QString& status = QString());
    void say(const QString& text, bool failure = false);
    void cbEnabledClick();

    QLineEdit* edtServer = nullptr;
    QLineEdit* edtUserName = nullptr;
    QLineEdit* edtPassword = nullptr;
    QPushButton* btnFindCalendars = nullptr;
    QPushButton* btnNewCalendar = nullptr;
    QComboBox* cbCalendar = nullptr;
    QLabel* lblStatus = nullptr;
    QCheckBox* cbEnabled = nullptr;
    QSpinBox* edtInterval = nullptr;
    QPushButton* btnOK = nullptr;
    CalDavClient* m_client = nullptr;
    QUrl m_home;         // where new calendars go, as the server told
    QUrl m_calendarsFor; // the address the calendars shown belong to
    QUrl m_plainAllowed; // plain http the user agreed to
    // The credentials the window's requests last carried.
    QUrl m_triedAt;
    QString m_triedUser;
    QString m_triedPassword;
    bool m_loading = false;
    bool m_busy = false;
    // The last search at the address shown, with the credentials shown, failed: OK would only
    // repeat it.
    bool m_searchFailed = false;
    QString m_pendingCalendar; // a calendar to make once the server has told where
};

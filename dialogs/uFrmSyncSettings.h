#pragma once

#include "sync/CalDavClient.h"
#include "sync/SyncState.h"

#include <QDialog>

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
// keeps it in the desktop's keyring; the window writes nothing.
class TfrmSyncSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSyncSettings(QWidget* parent = nullptr);
    ~TfrmSyncSettings() override;

    struct Choice {
        SyncState::Settings settings;
        QString password;
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
    QUrl m_home; // where new calendars go, as the server told
    bool m_busy = false;
    QString m_pendingCalendar; // a calendar to make once the server has told where
};

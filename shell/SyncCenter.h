#pragma once

#include "sync/CalDavClient.h"
#include "sync/CalDavSync.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>

class ListSync;
class QAction;
class QLabel;
class QProgressBar;
class QToolButton;
class QWidget;
class TfrTasks;
class TfrmMain;
class TfrmSyncSettings;

// The calendar sync of the main window's lists: the File menu's Sync Settings... and Sync (also
// on the tool bar), one ListSync per open list (made when its tab is built, gone with its
// document), and what the user sees of them: the active list's sync in the footer (what it is
// doing, a busy bar and Cancel, or how it ended), the Conflicts window on true conflicts, and
// one error box per failure naming the server. A failure a timed sync or a sync after a save
// meets again is not shown again (the footer still tells it); a failure of a Sync the user chose
// always is. A server refusing the password shows the Sync Settings window to ask again.
//
// Passwords come from the desktop's keyring (SyncPassword) once per account and run, and are
// kept in memory only; one the keyring cannot keep is used until the program ends. A password
// typed in the settings window goes to the keyring only once the server has accepted it (in the
// window, or by the sync that follows): a refused one never replaces the one kept. A certificate
// the system does not trust is shown, and the sync runs again once the user trusts it.
class SyncCenter : public QObject {
    Q_OBJECT
public:
    // runCommand: the main window's entry of its commands (ends cell edits, shows failures).
    SyncCenter(TfrmMain& main, std::function<bool(const std::function<void()>&)> runCommand);
    ~SyncCenter() override;

    QAction* SettingsAction() const { return actSyncSettings; }
    QAction* SyncAction() const { return actSync; }
    // The footer's part for the sync: a label, a busy bar and Cancel, at the footer's left.
    QWidget* Footer() const { return pnlSync; }
    // Makes the Sync Settings window, after the main window's other secondary windows.
    void CreateSettingsWindow();
    TfrmSyncSettings* SettingsWindow() const { return frmSyncSettings; }

    // A tab was built for a list (opened, made or recovered): its sync starts when it syncs.
    void AddList(TfrTasks* view);
    // The sync of a list's view; nullptr for none.
    static ListSync* SyncOf(const TfrTasks* view);

    void actSyncSettingsExecute();
    void actSyncExecute();
    void btnSyncCancelClick();

private:
    ListSync& requireSync();
    // The password of the list's account, then `then` with it (from memory, else the keyring).
    void withPassword(ListSync& sync, std::function<void(const QString& password)> then);
    void startSync(ListSync& sync, bool chosen);
    // The settings window for a list; note says why it is shown (a refused password).
    void showSettings(ListSync& sync, const QString& password, const QString& note, bool chosen);
    // The password chosen in the settings window: used from now on, and kept in the keyring
    // now when the server accepted it, else once a sync with it has.
    void keepPassword(const QString& key, const QString& password, const QString& before,
                      bool accepted);
    void writePassword(const QString& key, const QString& password);
    void finished(ListSync& sync, const CalDavClient::Failure& failure);
    void ask(ListSync& sync, const std::vector<MergeConflict>& conflicts,
             const std::function<void(const MergeChoices&)>& answer);
    void showFooter();
    static QString accountKey(const ListSync& sync);

    TfrmMain& m_main;
    std::function<bool(const std::function<void()>&)> m_runCommand;
    QAction* actSyncSettings = nullptr;
    QAction* actSync = nullptr;
    QWidget* pnlSync = nullptr;
    QLabel* lblSync = nullptr;
    QProgressBar* pbSync = nullptr;
    QToolButton* btnSyncCancel = nullptr;
    TfrmSyncSettings* frmSyncSettings = nullptr;
    bool m_followsTabs = false;
    QHash<QString, QString> m_passwords;   // by account, for this run
    QHash<QString, QString> m_unconfirmed; // typed, kept once the server accepts them
    QSet<ListSync*> m_chosen;              // syncs the user started: every failure is shown
};

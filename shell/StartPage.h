#pragma once

#include <QWidget>

class QAction;
class QVBoxLayout;
class QLabel;
class RecentLists;

// What the main window shows while no list is open: how to begin (New, Open, Reopen, with their
// keys) and the lists used last, each opened with a click.
class StartPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int RecentShown = 6;

    explicit StartPage(QWidget* parent = nullptr);
    // The commands its buttons run.
    void SetCommands(QAction* newList, QAction* open, QAction* reopen);
    // Shows the newest lists of the store that still exist, and follows its changes.
    void SetRecentLists(const RecentLists* store);
    QStringList RecentShownFiles() const { return m_recentFiles; }

signals:
    void recentListChosen(const QString& fileName);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showRecent();

    QVBoxLayout* m_commands = nullptr;
    QVBoxLayout* m_recent = nullptr;
    QLabel* m_recentTitle = nullptr;
    const RecentLists* m_store = nullptr;
    QStringList m_recentFiles;
};

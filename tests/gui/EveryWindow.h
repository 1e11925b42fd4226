#pragma once

#include "shell/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <functional>

// Every window of the program as a user reaches it: the main window with no list and with one,
// and each secondary window, opened by the command that shows it (on the list's current task).
struct WindowShowing {
    const char* name;
    const char* command; // the action that shows it; none: the main window
    bool withList;
};

inline const QList<WindowShowing>& EveryWindow() {
    static const QList<WindowShowing> windows{
        {"main window, start page", nullptr, false},
        {"main window, a list", nullptr, true},
        {"About", "About1", false},
        {"Reopen", "actReopen", false},
        {"Categories", "actCategories", false},
        {"Reminders", "actReminders", false},
        {"Batch Insert", "BatchInsert1", true},
        {"Details", "DetailView1", true},
        {"Comments", "Comments1", true},
        {"Progress", "acSetProgress", true},
        {"Date Select", "actSetDate", true},
        {"URL", "LinktoURL1", true},
        {"Task History", "actHistory", true},
        {"Deleted Tasks", "actDeletedTasks", true},
        {"Make Subtask Of", "MakeSubtaskOf1", true},
        {"Repeat", "actRepeat", true},
        {"Print preview", "tbPrint", true},
    };
    return windows;
}

// Runs check on the window the command shows, while it is shown (a modal window is closed
// afterwards), or on the main window when there is no command. False when no window showed.
inline bool WithWindowShown(TfrmMain& main, const char* command,
                            const std::function<void(QWidget&)>& check) {
    if (!command) {
        if (!QTest::qWaitForWindowExposed(&main))
            return false;
        check(main);
        return true;
    }
    QAction* action = main.findChild<QAction*>(QLatin1String(command));
    if (!action)
        return false;
    bool shown = false;
    QTimer::singleShot(0, &main, [&] {
        QWidget* window = QApplication::activeModalWidget();
        if (!window || !QTest::qWaitForWindowExposed(window))
            return;
        shown = true;
        check(*window);
        if (auto* dialog = qobject_cast<QDialog*>(window))
            dialog->reject();
        else
            window->close();
    });
    action->trigger();
    return shown;
}

#pragma once

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <functional>

// Runs `steps` against a dialog once its modal loop has started (the caller then calls exec() or
// a method that does). If the steps leave that showing open, it is rejected a little later, so a
// failing check cannot leave the test waiting forever.
inline void WhenShown(QDialog* dialog, std::function<void()> steps) {
    static int showings = 0;
    const int showing = ++showings;
    QTimer::singleShot(0, dialog, [dialog, showing, steps = std::move(steps)] {
        dialog->setProperty("testShowing", showing);
        if (!QTest::qWaitForWindowActive(dialog))
            qWarning("the dialog did not become active");
        steps();
        QTimer::singleShot(3000, dialog, [dialog, showing] {
            if (dialog->isVisible() && dialog->property("testShowing").toInt() == showing) {
                qWarning("the dialog was left open");
                dialog->reject();
            }
        });
    });
}

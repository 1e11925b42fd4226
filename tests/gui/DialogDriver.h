#pragma once

#include <QAbstractButton>
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

// Closes a dialog as a user does: "close" (its close box), "escape", or else a click on the
// button of that name.
inline void CloseBy(QDialog& dialog, const QString& how) {
    if (how == u"close")
        dialog.close();
    else if (how == u"escape")
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else if (auto* button = dialog.findChild<QAbstractButton*>(how))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        qWarning("no button %s", qPrintable(how));
}

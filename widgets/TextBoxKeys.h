#pragma once

#include <QObject>

// Keeps the undo and redo keys (Ctrl+Z, Ctrl+Shift+Z, Ctrl+Y) in the text box that has the focus,
// whether or not it has anything left to undo: a window shortcut on the same keys (the list's
// Undo) must never act on what the user cannot see from the box. Installed on the application.
class TextBoxKeys final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

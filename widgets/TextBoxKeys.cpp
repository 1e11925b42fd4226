#include "widgets/TextBoxKeys.h"

#include <QAbstractSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

bool isTextBox(const QObject* object) {
    return qobject_cast<const QLineEdit*>(object) || qobject_cast<const QTextEdit*>(object) ||
           qobject_cast<const QPlainTextEdit*>(object) ||
           qobject_cast<const QAbstractSpinBox*>(object);
}

bool isUndoOrRedo(const QKeyEvent* key) {
    const QKeyCombination pressed = key->keyCombination();
    return key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
           pressed == QKeyCombination(Qt::ControlModifier, Qt::Key_Y) ||
           pressed == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z);
}

} // namespace

bool TextBoxKeys::eventFilter(QObject* watched, QEvent* event) {
    // Accepting the override hands the key to the box as a key press instead of a shortcut.
    if (event->type() == QEvent::ShortcutOverride && isTextBox(watched) &&
        isUndoOrRedo(static_cast<QKeyEvent*>(event)))
        event->accept();
    return QObject::eventFilter(watched, event);
}

#include "dialogs/FieldLink.h"

#include "model/DataTable.h"
#include "widgets/ErrorBox.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

FieldLink::FieldLink(QWidget* editor, DataTable* table, const QString& field)
    : QObject(editor), m_editor(editor), m_table(table), m_field(field) {
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        connect(line, &QLineEdit::textEdited, this, [this] { RunGuarded([this] { changed(); }); });
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(editor)) {
        connect(memo, &QPlainTextEdit::textChanged, this,
                [this] { RunGuarded([this] { changed(); }); });
    } else if (auto* list = qobject_cast<QComboBox*>(editor)) {
        connect(list, &QComboBox::activated, this, [this] {
            RunGuarded([this] {
                changed();
                write();
            });
        });
    }
    editor->installEventFilter(this);
}

QString FieldLink::editorText() const {
    if (auto* line = qobject_cast<QLineEdit*>(m_editor))
        return line->text();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(m_editor)) {
        // A memo field keeps its lines as list files write them: CR LF between lines.
        QString text = memo->toPlainText();
        const int field = m_table ? m_table->fieldIndex(m_field) : -1;
        if (field >= 0 &&
            m_table->fields()[static_cast<std::size_t>(field)].kind == FieldKind::Memo)
            text.replace(u'\n', QStringLiteral("\r\n"));
        return text;
    }
    if (auto* list = qobject_cast<QComboBox*>(m_editor))
        return list->currentText();
    return QString();
}

void FieldLink::load() {
    const QString value = m_table ? m_table->asString(m_field) : QString();
    m_loading = true;
    if (auto* line = qobject_cast<QLineEdit*>(m_editor)) {
        line->setText(value);
        line->setCursorPosition(0);
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(m_editor)) {
        memo->setPlainText(value);
    } else if (auto* list = qobject_cast<QComboBox*>(m_editor)) {
        // A value that is not among the items shows no choice.
        int shown = -1;
        for (int i = 0; i < list->count() && shown < 0; ++i)
            if (list->itemText(i).compare(value, Qt::CaseInsensitive) == 0)
                shown = i;
        list->setCurrentIndex(shown);
    }
    m_loading = false;
    m_modified = false;
}

void FieldLink::changed() {
    if (m_loading || !m_active || !m_table)
        return;
    if (m_modified)
        return;
    m_modified = true;
    m_table->edit();
    if (onEditBegun)
        onEditBegun(*this);
}

void FieldLink::write() {
    if (!m_modified || !m_table)
        return;
    m_table->edit();
    m_table->setString(m_field, editorText());
    // Show the value as the field keeps it (dates in the short format, trailing blanks gone).
    load();
}

void FieldLink::writeOnLeave() {
    // The focus may be back already, sent there by a refusal met on the way out (OK).
    if (!m_active || !m_modified || m_editor->hasFocus())
        return;
    if (!RunGuarded([this] { write(); })) {
        m_editor->setFocus(Qt::OtherFocusReason);
        if (auto* line = qobject_cast<QLineEdit*>(m_editor))
            line->selectAll();
    }
}

bool FieldLink::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_editor && event->type() == QEvent::FocusOut) {
        // Only a move to another control counts: not a menu popping up, and not the window
        // losing the activation. The write waits until the focus has settled, so its message
        // does not open in the middle of the focus change.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && m_modified)
            QTimer::singleShot(0, this, [this] { writeOnLeave(); });
    }
    return QObject::eventFilter(watched, event);
}

#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class DataTable;
class QWidget;

// Binds one editor (a QLineEdit, QPlainTextEdit or QComboBox) to a field of a table's current
// task, as the Details and Comments windows need it:
//  - load shows the field's value;
//  - the user's first change puts the table into editing (which marks the list unsaved);
//  - the change is written into the field when the editor loses the focus to another control,
//    and by write (the window calls it before the table posts); a pick from a drop-down list is
//    written at once;
//  - a value the field refuses is shown in the error box; the change stays in the editor and the
//    focus goes back to it.
// A link that is not active (the window is closed) leaves the table alone.
class FieldLink : public QObject {
    Q_OBJECT
public:
    FieldLink(QWidget* editor, DataTable* table, const QString& field);

    QWidget* editor() const { return m_editor; }
    const QString& fieldName() const { return m_field; }
    bool isModified() const { return m_modified; }

    // Shows the current task's value and forgets any change.
    void load();
    // Writes a change into the field; nothing when unchanged. Throws CorvantisError when the
    // field refuses the value (the change is kept).
    void write();
    void setActive(bool active) { m_active = active; }

    // Runs after the first change has put the table into editing.
    std::function<void(FieldLink&)> onEditBegun;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void changed();
    void writeOnLeave();
    QString editorText() const;

    QWidget* m_editor;
    QPointer<DataTable> m_table;
    QString m_field;
    bool m_modified = false;
    bool m_loading = false;
    bool m_active = true;
};

// The list's file changed on disk by another program: the list read again where it has no
// unsaved changes, the bar that offers a merge, and the notes that tell what happened.
#include "model/DataTable.h"
#include "view/ChangedOnDiskBar.h"
#include "view/TaskGrid.h"
#include "view/uFrTasks.h"

#include <QDateEdit>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

#include <functional>
#include <optional>

bool TfrTasks::CanTakeDiskChange() const {
    return !DBGrid1->cellEditor() && !DateTimePicker1->isVisible() &&
           !m_cdsTasks->isAppendingRows() && !m_document->isSyncing();
}

void TfrTasks::KeepingPlace(const std::function<void()>& change) {
    const int idField = m_cdsTasks->autoIncField();
    std::optional<std::int32_t> id;
    if (idField >= 0 && m_cdsTasks->isActive() && m_cdsTasks->currentIndex() >= 0 &&
        !m_cdsTasks->currentData().isNull(idField))
        id = m_cdsTasks->currentData().int32(idField);
    const int top = DBGrid1->verticalScrollBar()->value();
    const int left = DBGrid1->horizontalScrollBar()->value();
    const auto restore = [&] {
        const int newIdField = m_cdsTasks->autoIncField();
        if (id && newIdField >= 0 && m_cdsTasks->isActive())
            for (DataTable::RowId row : m_cdsTasks->allRows()) {
                const RowData& values = m_cdsTasks->rowData(row);
                if (!values.isNull(newIdField) && values.int32(newIdField) == *id) {
                    if (m_cdsTasks->positionOf(row) >= 0 && row != m_cdsTasks->currentRow())
                        m_cdsTasks->goToRow(row);
                    break;
                }
            }
        DBGrid1->doItemsLayout(); // the scroll bars' ranges of the list as it is now
        DBGrid1->verticalScrollBar()->setValue(top);
        DBGrid1->horizontalScrollBar()->setValue(left);
    };
    try {
        change();
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void TfrTasks::ReloadFromDisk() {
    KeepingPlace([this] { m_document->reload(); });
    showItemCount();
    DiskBar()->hide();
    ShowNote(QStringLiteral("%1 was changed on disk and read again.")
                 .arg(QFileInfo(ListFileName()).fileName()));
}

void TfrTasks::ShowNote(const QString& text) {
    m_note->setText(text);
    m_note->setToolTip(text);
    m_noteTimer->start(15000);
}

QString TfrTasks::NoteText() const {
    return m_note->text();
}

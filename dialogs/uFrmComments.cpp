#include "dialogs/uFrmComments.h"

#include "dialogs/FieldLink.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "widgets/DialogParts.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

TfrmComments::TfrmComments(QWidget* parent) : QDialog(parent) {
    DialogParts::SetUp(*this, QStringLiteral("frmComments"), QStringLiteral("Comments"),
                       QSize(454, 399), DialogParts::Frame::SizeableOuter);

    memComments = new QPlainTextEdit(this);
    memComments->setObjectName(QStringLiteral("memComments"));
    memComments->setAccessibleName(QStringLiteral("Comments"));
    DialogParts::NameScrollBars(*memComments, memComments->accessibleName());
    memComments->setLineWrapMode(QPlainTextEdit::NoWrap);
    memComments->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memComments->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memComments->setTabChangesFocus(true);
    memComments->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memComments);
}

void TfrmComments::setTable(DataTable* table) {
    delete m_link;
    m_link = nullptr;
    memComments->setEnabled(false);
    if (!table) {
        memComments->clear();
        return;
    }
    const int field = table->fieldIndexOrThrow(TaskRecord::Comments);
    memComments->setEnabled(true);
    memComments->setReadOnly(table->fields()[static_cast<std::size_t>(field)].readOnly());
    m_link = new FieldLink(memComments, table, TaskRecord::Comments);
    m_link->load();
}

void TfrmComments::writeChange() {
    if (m_link)
        m_link->write();
}

void TfrmComments::execute(DataTable& table) {
    setTable(&table);
    memComments->setFocus();
    exec();
    writeChange();
    if (table.isEditing())
        table.post();
}

void TfrmComments::done(int result) {
    // The change is written by execute once the window is gone, not by the focus leaving.
    if (m_link)
        m_link->setActive(false);
    QDialog::done(result);
}

#include "dialogs/uFrmBatchImport.h"

#include "storage/Import.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmBatchImport::TfrmBatchImport(QWidget* parent) : QDialog(parent) {
    DialogParts::SetUp(*this, QStringLiteral("frmBatchImport"), QStringLiteral("Batch Import"),
                       QSize(757, 481), DialogParts::Frame::Sizeable);

    auto* top = new QWidget(this);
    top->setObjectName(QStringLiteral("pnlTop"));
    top->setFixedHeight(41);
    Label1 = DialogParts::AddLabel(top, QStringLiteral("Label1"),
                                   QStringLiteral("Paste a list of tasks. One task per line."),
                                   QPoint(8, 14));

    // No word wrap: every line of the box is one line of the text, so one task.
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Tasks, one per line"));
    DialogParts::NameScrollBars(*Memo1, Memo1->accessibleName());
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(QString()); // one empty line

    // The buttons are never default buttons: Enter in the box starts a new line.
    auto* bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("pnlBottom"));
    bottom->setFixedHeight(41);
    btnSave = DialogParts::AddButton(bottom, QStringLiteral("btnSave"), QStringLiteral("Save"),
                                     QPoint(8, 8));
    btnCancel = DialogParts::AddButton(bottom, QStringLiteral("btnCancel"),
                                       QStringLiteral("Cancel"), QPoint(89, 8));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(top);
    layout->addWidget(Memo1, 1);
    layout->addWidget(bottom);

    ConnectGuarded(btnSave, &QPushButton::clicked, this, &TfrmBatchImport::btnSaveClick);
    ConnectGuarded(btnCancel, &QPushButton::clicked, this, &TfrmBatchImport::btnCancelClick);
}

QString TfrmBatchImport::text() const {
    return Memo1->toPlainText();
}

void TfrmBatchImport::btnSaveClick() {
    accept();
}

void TfrmBatchImport::btnCancelClick() {
    reject();
}

bool TfrmBatchImport::execute(DataTable& target) {
    return execute([&](const QString& text) { return Import::BatchInsert(target, text); });
}

bool TfrmBatchImport::execute(const std::function<bool(const QString& text)>& insert) {
    Memo1->setFocus();
    if (exec() != QDialog::Accepted || !insert(Memo1->toPlainText()))
        return false;
    Memo1->clear();
    return true;
}

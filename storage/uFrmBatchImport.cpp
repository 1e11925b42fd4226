#include "storage/uFrmBatchImport.h"

#include "shell/ErrorBox.h"
#include "storage/DecorativeStrip.h"
#include "storage/Import.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmBatchImport::TfrmBatchImport(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmBatchImport"));
    setWindowTitle(QStringLiteral("Batch Import"));
    resize(757, 481);

    auto* top = new DecorativeStrip(this);
    top->setObjectName(QStringLiteral("pnlTop"));
    top->setFixedHeight(41);
    Label1 = new QLabel(QStringLiteral("Paste a list of tasks. One task per line."), top);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont labelFont = Label1->font();
    labelFont.setBold(true);
    Label1->setFont(labelFont);
    Label1->setStyleSheet(QStringLiteral("color: white;"));
    auto* topLayout = new QHBoxLayout(top);
    topLayout->setContentsMargins(10, 0, 10, 0);
    topLayout->addWidget(Label1);

    // No word wrap: every line of the box is one line of the text, so one task.
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(QString()); // one empty line

    auto* bottom = new DecorativeStrip(this);
    bottom->setObjectName(QStringLiteral("pnlBottom"));
    bottom->setFixedHeight(41);
    btnSave = new QPushButton(QStringLiteral("Save"), bottom);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnCancel = new QPushButton(QStringLiteral("Cancel"), bottom);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    auto* buttons = new QHBoxLayout(bottom);
    buttons->setContentsMargins(8, 0, 8, 0);
    buttons->addStretch(1);
    for (QPushButton* button : {btnSave, btnCancel}) {
        // Enter belongs to the text box: it starts a new line, it never closes the window.
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(top);
    layout->addWidget(Memo1, 1);
    layout->addWidget(bottom);

    ConnectGuarded(btnSave, &QPushButton::clicked, this, &TfrmBatchImport::btnSaveClick);
    ConnectGuarded(btnCancel, &QPushButton::clicked, this, &TfrmBatchImport::btnCancelClick);
}

QString TfrmBatchImport::Text() const {
    return Memo1->toPlainText();
}

void TfrmBatchImport::btnSaveClick() {
    accept();
}

void TfrmBatchImport::btnCancelClick() {
    reject();
}

bool TfrmBatchImport::Execute(DataTable& target) {
    Memo1->setFocus();
    if (exec() != QDialog::Accepted)
        return false;
    Import::BatchInsert(target, Memo1->toPlainText());
    Memo1->clear();
    return true;
}

#include "dialogs/uFrmCategories.h"

#include "base/TextLines.h"
#include "storage/CategorySettings.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/ErrorBox.h"
#include "widgets/InterfaceFont.h"
#include "widgets/Prompt.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// The text box's colours: light 3D face while read-only, white while editable.
const QColor ReadOnlyColor(227, 227, 227);
const QColor EditableColor(255, 255, 255);
} // namespace

TfrmCategories::TfrmCategories(const QString& programFolder, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmCategories"));
    setWindowTitle(QStringLiteral("Categories"));
    setFont(InterfaceFont::Font());
    resize(306, 528);

    auto* top = new DecorativeStrip(this);
    top->setObjectName(QStringLiteral("pnlTop"));
    top->setFixedHeight(41);
    auto* title = new QLabel(QStringLiteral("Categories"), top);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: white;"));
    auto* topLayout = new QHBoxLayout(top);
    topLayout->setContentsMargins(10, 0, 10, 0);
    topLayout->addWidget(title);

    mCats = new QPlainTextEdit(this);
    mCats->setObjectName(QStringLiteral("mCats"));
    mCats->setLineWrapMode(QPlainTextEdit::NoWrap);
    mCats->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* bottom = new DecorativeStrip(this);
    bottom->setObjectName(QStringLiteral("pnlBottom"));
    bottom->setFixedHeight(41);
    btnUpdate = new QPushButton(QStringLiteral("Update"), bottom);
    btnUpdate->setObjectName(QStringLiteral("btnUpdate"));
    btnSave = new QPushButton(QStringLiteral("Save"), bottom);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnClose = new QPushButton(QStringLiteral("Close"), bottom);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    auto* buttons = new QHBoxLayout(bottom);
    buttons->setContentsMargins(8, 0, 8, 0);
    for (QPushButton* button : {btnUpdate, btnSave, btnClose}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(top);
    layout->addWidget(mCats, 1);
    layout->addWidget(bottom);

    ConnectGuarded(btnUpdate, &QPushButton::clicked, this, &TfrmCategories::btnUpdateClick);
    ConnectGuarded(btnSave, &QPushButton::clicked, this, &TfrmCategories::btnSaveClick);
    ConnectGuarded(btnClose, &QPushButton::clicked, this, &TfrmCategories::btnCloseClick);
    ConnectGuarded(mCats, &QPlainTextEdit::textChanged, this, &TfrmCategories::mCatsChange);

    m_appFolder = QFileInfo(programFolder).absoluteFilePath();
    if (!m_appFolder.endsWith(u'/'))
        m_appFolder += u'/';
    QString error;
    QStringList lines = CategorySettings::Read(SettingsFileName(), &error);
    if (!error.isEmpty())
        Prompt::Error(error);
    uGeneral::SortLines(lines);
    // Filling the box counts as a change: Save is enabled at the first showing.
    mCats->setPlainText(lines.join(u'\n'));
    setEditable(false);
}

QString TfrmCategories::SettingsFileName() const {
    return CategorySettings::FileName(m_appFolder);
}

QStringList TfrmCategories::Lines() const {
    const QString text = mCats->toPlainText();
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(u'\n');
    if (text.endsWith(u'\n'))
        lines.removeLast(); // a final line break ends the last line; it starts no new one
    return lines;
}

void TfrmCategories::setEditable(bool editable) {
    mCats->setReadOnly(!editable);
    QPalette palette = mCats->palette();
    palette.setColor(QPalette::Base, editable ? EditableColor : ReadOnlyColor);
    palette.setColor(QPalette::Text, Qt::black);
    mCats->setPalette(palette);
}

void TfrmCategories::btnUpdateClick() {
    setEditable(true);
    btnSave->setEnabled(true);
}

void TfrmCategories::mCatsChange() {
    btnSave->setEnabled(true);
}

void TfrmCategories::btnSaveClick() {
    RunGuarded([this] {
        CategorySettings::Save(SettingsFileName(), Lines());
        Prompt::Notice(QStringLiteral("Categories saved."));
    });
    // Saved or not, the box goes back to its read-only state and the window closes.
    btnSave->setEnabled(false);
    setEditable(false);
    accept();
}

void TfrmCategories::btnCloseClick() {
    reject();
}

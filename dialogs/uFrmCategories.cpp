#include "dialogs/uFrmCategories.h"

#include "storage/CategoryList.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"
#include "widgets/InterfaceFont.h"
#include "widgets/Prompt.h"

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

TfrmCategories::TfrmCategories(CategoryList& categories, QWidget* parent)
    : QDialog(parent), m_categories(&categories) {
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
    mCats->setAccessibleName(QStringLiteral("Categories, one per line"));
    DialogParts::NameScrollBars(*mCats, mCats->accessibleName());
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

    if (!categories.loadError().isEmpty())
        Prompt::Error(categories.loadError());
    connect(&categories, &CategoryList::changed, this, &TfrmCategories::showList);
    // Filling the box counts as a change: Save is enabled at the first showing.
    mCats->setPlainText(categories.lines().join(u'\n'));
    setEditable(false);
}

QString TfrmCategories::AppFolder() const {
    return m_categories->folder();
}

QStringList TfrmCategories::shownLines() const {
    const QString text = mCats->toPlainText();
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(u'\n');
    if (text.endsWith(u'\n'))
        lines.removeLast();
    return lines;
}

void TfrmCategories::showList() {
    // A change typed here is in the box already; only one made elsewhere is shown anew.
    if (shownLines() != m_categories->lines())
        mCats->setPlainText(m_categories->lines().join(u'\n'));
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
    m_categories->setLines(shownLines());
    btnSave->setEnabled(true);
}

void TfrmCategories::btnSaveClick() {
    RunGuarded([this] {
        m_categories->save();
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

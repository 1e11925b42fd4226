#include "dialogs/uFrmConflicts.h"

#include "dialogs/VersionListModel.h"
#include "dialogs/VersionTable.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { IdColumn, TaskColumn, FieldColumn, BaseColumn, ThisColumn, OtherColumn, KeepColumn };
constexpr int EmptyRole = Qt::UserRole + 1;

QTableWidgetItem* Cell(const QString& text, bool valueColumn, bool isField) {
    auto* item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled);
    item->setToolTip(text);
    if (valueColumn && isField && text.isEmpty()) {
        // An empty field must not read as a missing cell.
        item->setText(QStringLiteral("(empty)"));
        item->setForeground(QColor(Qt::gray));
        item->setData(EmptyRole, true);
    } else {
        item->setText(VersionListModel::oneLine(text));
    }
    return item;
}

// A button as wide as its caption needs, at least the usual 75.
QPushButton* StripButton(QWidget* strip, const QString& name, const QString& caption) {
    auto* button = new QPushButton(caption, strip);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setFixedSize(std::max(75, button->sizeHint().width()), 25);
    return button;
}

} // namespace

TfrmConflicts::TfrmConflicts(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmConflicts"), QStringLiteral("Conflicts"), QSize(900, 420),
          Frame::Sizeable);

    lblConflicts = new QLabel(this);
    lblConflicts->setObjectName(QStringLiteral("lblConflicts"));
    lblConflicts->setContentsMargins(8, 6, 8, 6);
    lblConflicts->setTextFormat(Qt::PlainText);
    lblConflicts->setWordWrap(true);

    grdConflicts = new QTableWidget(0, 7, this);
    grdConflicts->setHorizontalHeaderLabels(
        {QStringLiteral("ID"), QStringLiteral("Task"), QStringLiteral("Field"),
         QStringLiteral("At the common point"), QStringLiteral("This copy"),
         QStringLiteral("Other copy"), QStringLiteral("Keep")});
    VersionTable::setUp(grdConflicts, QStringLiteral("grdConflicts"), grdConflicts->model(),
                        QAbstractItemView::NoSelection, {40, 200, 80, 120, 130, 130, 150});
    // The texts compared share the window's width and wrap, so each is read whole (its hint
    // holds it too); the short columns take what they need.
    QHeaderView* header = grdConflicts->horizontalHeader();
    header->setStretchLastSection(false);
    for (const int column : {IdColumn, FieldColumn, KeepColumn})
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    for (const int column : {TaskColumn, BaseColumn, ThisColumn, OtherColumn})
        header->setSectionResizeMode(column, QHeaderView::Stretch);
    grdConflicts->setWordWrap(true);
    grdConflicts->verticalHeader()->setMinimumSectionSize(24);
    grdConflicts->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grdConflicts->setFocusPolicy(Qt::NoFocus);
    grdConflicts->setAccessibleName(QStringLiteral("Conflicts"));

    auto* strip = new DecorativeStrip(this);
    strip->setObjectName(QStringLiteral("pnlButtons"));
    btnAllThis =
        StripButton(strip, QStringLiteral("btnAllThis"), QStringLiteral("All From This Copy"));
    btnAllOther =
        StripButton(strip, QStringLiteral("btnAllOther"), QStringLiteral("All From Other Copy"));
    btnOK = StripButton(strip, QStringLiteral("btnOK"), QStringLiteral("OK"));
    btnCancel = StripButton(strip, QStringLiteral("btnCancel"), QStringLiteral("Cancel"));
    btnOK->setDefault(true);
    auto* buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(24, 8, 24, 8);
    buttons->setSpacing(5);
    buttons->addWidget(btnAllThis);
    buttons->addWidget(btnAllOther);
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lblConflicts);
    layout->addWidget(grdConflicts, 1);
    layout->addWidget(strip);

    ConnectGuarded(btnAllThis, &QPushButton::clicked, this, &TfrmConflicts::btnAllThisClick);
    ConnectGuarded(btnAllOther, &QPushButton::clicked, this, &TfrmConflicts::btnAllOtherClick);
    ConnectGuarded(btnOK, &QPushButton::clicked, this, &TfrmConflicts::btnOKClick);
    ConnectGuarded(btnCancel, &QPushButton::clicked, this, &TfrmConflicts::btnCancelClick);
}

TfrmConflicts::~TfrmConflicts() = default;

void TfrmConflicts::Load(const std::vector<MergeConflict>& conflicts, const QString& otherName) {
    using Side = MergeConflict::Side;
    grdConflicts->setRowCount(0);
    m_choices.clear();
    m_chosen.clear();
    const int count = static_cast<int>(conflicts.size());
    lblConflicts->setText(
        QStringLiteral("This copy and %1 both changed %2 since they parted. Choose the copy "
                       "each line keeps; Cancel leaves this list as it was.")
            .arg(otherName, count == 1 ? QStringLiteral("the task below")
                                       : QStringLiteral("the tasks below")));
    grdConflicts->setRowCount(count);
    for (int line = 0; line < count; ++line) {
        const MergeConflict& conflict = conflicts[static_cast<std::size_t>(line)];
        const bool isField = conflict.kind == MergeConflict::Kind::Field;
        grdConflicts->setItem(line, IdColumn,
                              Cell(QString::number(conflict.taskId), false, isField));
        grdConflicts->setItem(line, TaskColumn, Cell(conflict.task, false, isField));
        grdConflicts->setItem(
            line, FieldColumn,
            Cell(isField ? conflict.field : QStringLiteral("(whole task)"), false, isField));
        grdConflicts->setItem(line, BaseColumn, Cell(conflict.base, true, isField));
        grdConflicts->setItem(line, ThisColumn, Cell(conflict.thisCopy, true, isField));
        grdConflicts->setItem(line, OtherColumn, Cell(conflict.otherCopy, true, isField));

        auto* choice = new QComboBox;
        choice->setObjectName(QStringLiteral("cbKeep%1").arg(line));
        if (isField) {
            choice->addItem(QStringLiteral("This copy"), int(Side::ThisCopy));
            choice->addItem(QStringLiteral("Other copy"), int(Side::OtherCopy));
        } else {
            // Say what each choice does to the task rather than whose it is.
            const bool deletedHere = conflict.deletedInThisCopy;
            const QString remove = QStringLiteral("Delete the task");
            const QString keep = QStringLiteral("Keep the edited task");
            choice->addItem(deletedHere ? remove : keep, int(Side::ThisCopy));
            choice->addItem(deletedHere ? keep : remove, int(Side::OtherCopy));
        }
        grdConflicts->setCellWidget(line, KeepColumn, choice);
        m_choices.push_back(choice);
        connect(choice, &QComboBox::currentIndexChanged, this, [this, line] { showChoice(line); });
        showChoice(line);
    }
}

std::optional<MergeChoices> TfrmConflicts::Execute(const std::vector<MergeConflict>& conflicts,
                                                   const QString& otherName) {
    Load(conflicts, otherName);
    const bool accepted = exec() == QDialog::Accepted;
    if (!accepted)
        return std::nullopt;
    return m_chosen;
}

MergeChoices TfrmConflicts::Choices() const {
    MergeChoices choices;
    for (const QComboBox* choice : m_choices)
        choices.push_back(static_cast<MergeConflict::Side>(choice->currentData().toInt()));
    return choices;
}

void TfrmConflicts::SetChoice(int line, MergeConflict::Side side) {
    QComboBox* choice = m_choices.at(static_cast<std::size_t>(line));
    choice->setCurrentIndex(choice->findData(int(side)));
}

// The value a line keeps is shown bold, the other one greyed.
void TfrmConflicts::showChoice(int line) {
    const bool other = m_choices.at(static_cast<std::size_t>(line))->currentData().toInt() ==
                       int(MergeConflict::Side::OtherCopy);
    for (const int column : {ThisColumn, OtherColumn}) {
        QTableWidgetItem* item = grdConflicts->item(line, column);
        const bool kept = (column == OtherColumn) == other;
        QFont font = grdConflicts->font();
        font.setBold(kept);
        item->setFont(font);
        const bool empty = item->data(EmptyRole).toBool();
        item->setForeground(kept && !empty ? grdConflicts->palette().color(QPalette::Text)
                                           : QColor(Qt::gray));
    }
}

void TfrmConflicts::btnAllThisClick() {
    for (int line = 0; line < static_cast<int>(m_choices.size()); ++line)
        SetChoice(line, MergeConflict::Side::ThisCopy);
}

void TfrmConflicts::btnAllOtherClick() {
    for (int line = 0; line < static_cast<int>(m_choices.size()); ++line)
        SetChoice(line, MergeConflict::Side::OtherCopy);
}

void TfrmConflicts::btnOKClick() {
    m_chosen = Choices();
    accept();
}

void TfrmConflicts::btnCancelClick() {
    reject();
}

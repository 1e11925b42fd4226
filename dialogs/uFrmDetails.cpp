#include "dialogs/uFrmDetails.h"

#include "base/DatesAndClock.h"
#include "dialogs/FieldLink.h"
#include "dialogs/uFrmRepeat.h"
#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "model/Recurrence.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QColor CaptionColor(215, 215, 215);
const QColor KeyColor(128, 128, 128);

// The size the toolkit gives a text box or a drop-down list when none is set: one line high,
// so that lines 20 pixels apart share their borders.
constexpr int DefaultBoxWidth = 121;
constexpr int DefaultBoxHeight = 21;
constexpr int ValueX = 120;
constexpr int WideBox = 500;
constexpr int NarrowBox = 100;
constexpr int MemoHeight = 97;

// A box in a colour of its own keeps dark text on it in any theme.
void setBase(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, color);
    palette.setColor(QPalette::Text, Qt::black);
    widget->setPalette(palette);
}

// Writes a value kept from the opening back into the pending row.
void restoreField(DataTable& table, const RowData& original, int field) {
    const FieldDef& def = table.fields()[static_cast<std::size_t>(field)];
    if (original.isNull(field)) {
        table.setNull(def.name);
        return;
    }
    switch (def.kind) {
    case FieldKind::String:
    case FieldKind::Memo:
        table.setString(def.name, table.textOf(original, field));
        return;
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word:
        table.setInteger(def.name, original.int32(field));
        return;
    case FieldKind::Date:
        table.setDate(def.name, QDate::fromJulianDay(original.int32(field)));
        return;
    case FieldKind::DateTime:
        table.setDateTime(def.name, FieldValues::storedToDateTime(original.int64(field)));
        return;
    case FieldKind::Boolean:
        table.setBoolean(def.name, original.boolean(field));
        return;
    }
}

} // namespace

TfrmDetails::TfrmDetails(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmDetails"), QStringLiteral("Details"), QSize(694, 656),
          Frame::SizeableOuter);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("sbFields"));
    m_scroll->setAccessibleName(QStringLiteral("Fields"));
    NameScrollBars(*m_scroll, m_scroll->accessibleName());
    m_scroll->setWidgetResizable(false);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_fields = new QWidget;
    m_fields->setObjectName(QStringLiteral("pnlFields"));
    m_scroll->setWidget(m_fields);

    auto* bar = new DecorativeStrip(this);
    bar->setObjectName(QStringLiteral("pnlButtons"));
    bar->setFixedHeight(41);
    QPushButton* ok = AddButton(bar, QStringLiteral("btnOK"), QStringLiteral("OK"), {24, 8});
    ok->setDefault(true);
    QPushButton* cancel =
        AddButton(bar, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {104, 8});
    btnRepeat = AddButton(bar, QStringLiteral("btnRepeat"), QStringLiteral("Repeat..."), {184, 8});
    // How the task repeats, on the window's own background above the bar.
    lblSeries = new QLabel(this);
    lblSeries->setObjectName(QStringLiteral("lblSeries"));
    lblSeries->setTextFormat(Qt::PlainText);
    lblSeries->setContentsMargins(11, 4, 11, 4);
    ConnectGuarded(ok, &QPushButton::clicked, this, &TfrmDetails::btnOKClick);
    ConnectGuarded(cancel, &QPushButton::clicked, this, &TfrmDetails::btnCancelClick);
    ConnectGuarded(btnRepeat, &QPushButton::clicked, this, &TfrmDetails::btnRepeatClick);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(lblSeries);
    layout->addWidget(bar);
}

TfrmDetails::~TfrmDetails() = default;

bool TfrmDetails::execute(DataTable& table) {
    setTable(&table);
    m_wasEditing = table.isEditing();
    m_original = table.isActive() ? table.currentData().clone() : RowData();
    Rebuild();
    const bool ok = exec() == QDialog::Accepted;
    if (!ok) {
        revert();
        return false;
    }
    if (m_table && m_table->isEditing())
        m_table->post();
    return true;
}

void TfrmDetails::Rebuild() {
    // Last created first, so nothing refers to a control already gone.
    const QList<QWidget*> old = m_fields->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (auto it = old.crbegin(); it != old.crend(); ++it)
        delete *it;
    m_links.clear();
    if (!m_table || !m_table->isActive()) {
        m_fields->resize(0, 0);
        return;
    }

    // The width test uses the size the window has now, as the user left it.
    layout()->activate();
    const int outerWidth = frameGeometry().width();
    const int areaWidth = m_scroll->width();

    int row = -1;
    int extra = 1;
    int right = 0;
    int bottom = 0;
    const FieldList& fields = m_table->fields();
    for (std::size_t f = 0; f < fields.size(); ++f) {
        const FieldDef& def = fields[f];
        const int i = static_cast<int>(f);
        ++row;
        const int top = row * LineStep + Margin + extra;

        auto* caption = new QLineEdit(def.name, m_fields);
        caption->setObjectName(QStringLiteral("lbl%1").arg(i));
        caption->setGeometry(11, top, DefaultBoxWidth, DefaultBoxHeight);
        caption->setReadOnly(true);
        caption->setFocusPolicy(Qt::ClickFocus);
        caption->setCursorPosition(0);
        setBase(caption, CaptionColor);

        QWidget* value = nullptr;
        const QString name = def.name;
        auto pickList = [&](const QString& prefix, const QStringList& items) {
            auto* list = new QComboBox(m_fields);
            list->setObjectName(prefix + QString::number(i));
            list->addItems(items);
            list->setGeometry(ValueX, top, NarrowBox, DefaultBoxHeight);
            list->setEnabled(!def.readOnly());
            return list;
        };
        if (def.kind == FieldKind::Memo) {
            auto* memo = new QPlainTextEdit(m_fields);
            memo->setObjectName(QStringLiteral("tbl%1").arg(i));
            memo->setGeometry(ValueX, top, WideBox, MemoHeight);
            memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            memo->setTabChangesFocus(true);
            memo->setReadOnly(def.readOnly());
            DialogParts::NameScrollBars(*memo, def.name);
            value = memo;
            extra += MemoExtra;
        } else if (name.compare(QStringLiteral("priority"), Qt::CaseInsensitive) == 0) {
            value = pickList(QStringLiteral("cbopri"), TaskRecord::DetailsPriorityChoices());
        } else if (name.compare(QStringLiteral("difficulty"), Qt::CaseInsensitive) == 0) {
            value = pickList(QStringLiteral("cboDiff"), TaskRecord::DetailsDifficultyChoices());
        } else if (name.compare(QStringLiteral("status"), Qt::CaseInsensitive) == 0) {
            value = pickList(QStringLiteral("cboSta"), TaskRecord::StatusChoices());
        } else {
            auto* box = new QLineEdit(m_fields);
            box->setObjectName(QStringLiteral("edt%1").arg(i));
            int width = def.kind == FieldKind::String && def.width >= 255 ? WideBox : NarrowBox;
            // A box as wide as the window would run under its edge: fit it to the area.
            if (width >= outerWidth)
                width = areaWidth - 20;
            box->setGeometry(ValueX, top, width, DefaultBoxHeight);
            if (def.kind == FieldKind::String && def.width > 0)
                box->setMaxLength(def.width);
            if (def.kind == FieldKind::AutoInc) {
                box->setReadOnly(true);
                setBase(box, KeyColor);
            } else if (def.readOnly()) {
                box->setReadOnly(true);
            }
            value = box;
        }

        // The caption box says which field this is; a reader hears the name with the value.
        caption->setAccessibleName(def.name);
        value->setAccessibleName(def.name);
        auto* link = new FieldLink(value, m_table, def.name);
        link->onEditBegun = [this](FieldLink& begun) { reloadExcept(&begun); };
        link->load();
        m_links.push_back(link);

        right = std::max({right, caption->geometry().right(), value->geometry().right()});
        bottom = std::max({bottom, caption->geometry().bottom(), value->geometry().bottom()});
    }
    m_fields->resize(right + 1 + 20, bottom + 1 + Margin);
    for (QWidget* w : m_fields->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        w->show();
    showSeries();
}

QString TfrmDetails::SeriesText() const {
    if (!m_table || !m_table->isActive() || m_table->currentIndex() < 0 ||
        !m_table->hasField(TaskRecord::Properties))
        return QString();
    const std::optional<Recurrence::Series> series =
        Recurrence::SeriesOf(m_table->asString(TaskRecord::Properties));
    if (!series)
        return QString();
    QString text = Recurrence::Describe(*series);
    const DataTable::RowId row = m_table->currentRow();
    if (m_table->currentVersionOf(row) < 0)
        return text;
    const std::vector<TaskHistory::Done> done =
        TaskHistory::doneOccurrences(*m_table, TaskHistory::versionsOfRow(*m_table, row));
    if (done.empty())
        return text + QStringLiteral("; not done yet");
    text += done.size() == 1 ? QStringLiteral("; done once")
                             : QStringLiteral("; done %1 times").arg(done.size());
    if (done.front().completed.isValid())
        text += QStringLiteral(", last on ") + uGeneral::FormatShortDate(done.front().completed);
    return text;
}

void TfrmDetails::SetRepeatWindow(TfrmRepeat* window) {
    m_repeatWindow = window;
}

void TfrmDetails::showSeries() {
    const bool canRepeat = m_table && m_table->isActive() &&
                           m_table->hasField(TaskRecord::Properties) &&
                           (m_table->currentIndex() >= 0 || m_table->isEditing());
    btnRepeat->setEnabled(canRepeat && m_repeatWindow);
    const QString text = SeriesText();
    lblSeries->setText(text);
    lblSeries->setToolTip(text);
    lblSeries->setVisible(!text.isEmpty());
}

void TfrmDetails::btnRepeatClick() {
    if (!m_repeatWindow || !m_table || !m_table->isActive() || m_table->currentIndex() < 0)
        return;
    // The window starts from what is typed here; a value the task refuses stops it.
    for (FieldLink* link : m_links)
        link->write();
    using namespace TaskRecord;
    const QDate due = m_table->hasField(DueDate) ? m_table->asDate(DueDate) : QDate();
    const std::optional<TaskCommands::RepeatSetting> setting =
        m_repeatWindow->ask(m_table->asString(Properties), due);
    if (!setting)
        return;
    const bool properties = m_table->asString(Properties) != setting->properties;
    const bool dueDate = setting->due.isValid() && setting->due != due;
    if (!properties && !dueDate)
        return;
    m_table->edit();
    if (properties)
        m_table->setString(Properties, setting->properties);
    if (dueDate)
        m_table->setDate(DueDate, setting->due);
    for (FieldLink* link : m_links)
        link->load();
    showSeries();
}

void TfrmDetails::reloadExcept(const FieldLink* except) {
    // Starting to edit on an empty list adds a task with the new-row defaults: show them.
    for (FieldLink* link : m_links)
        if (link != except && !link->isModified())
            link->load();
}

void TfrmDetails::btnOKClick() {
    for (FieldLink* link : m_links) {
        if (!RunGuarded([link] { link->write(); })) {
            link->editor()->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    accept();
}

void TfrmDetails::btnCancelClick() {
    reject();
}

void TfrmDetails::done(int result) {
    // Nothing a control still holds may reach the table once the window has closed.
    for (FieldLink* link : m_links)
        link->setActive(false);
    QDialog::done(result);
}

void TfrmDetails::revert() {
    if (!m_table || !m_table->isEditing())
        return;
    if (!m_wasEditing) {
        m_table->cancel();
        return;
    }
    // The table held an unfinished edit of its own before the window opened: keep that, and
    // put back only the fields the window changed.
    const RowData& now = m_table->currentData();
    for (std::size_t f = 0; f < m_table->fields().size(); ++f) {
        const int i = static_cast<int>(f);
        if (m_original.isNull(i) == now.isNull(i) && m_original.raw(i) == now.raw(i))
            continue;
        restoreField(*m_table, m_original, i);
    }
}

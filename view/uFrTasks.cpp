#include "view/uFrTasks.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "document/TaskUndo.h"
#include "model/DataTable.h"
#include "model/ListViews.h"
#include "model/OutlineCommands.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "view/ChangedOnDiskBar.h"
#include "view/TaskGrid.h"
#include "view/TaskGridDelegate.h"
#include "view/TaskGridModel.h"
#include "widgets/BusyCursor.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/ErrorBox.h"
#include "widgets/InterfaceFont.h"
#include "widgets/ProgramColours.h"
#include "widgets/Prompt.h"
#include "widgets/SurfaceColours.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {

// Widths of the columns the layout leaves to the toolkit.
int defaultColumnWidth(FieldKind kind) {
    switch (kind) {
    case FieldKind::Date:
    case FieldKind::DateTime:
        return 75;
    case FieldKind::String:
    case FieldKind::Memo:
        return 100;
    default:
        return 64;
    }
}

} // namespace

TfrTasks::TfrTasks(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frTasks"));
    setFont(InterfaceFont::Font());
    setAutoFillBackground(true);
    SurfaceColours::Fix(*this, ProgramColours::ViewBackground);

    m_document = new ListDocument(this);
    m_cdsTasks = m_document->table();
    m_undo = m_document->undo();
    m_cdsTasks->setAfterScroll([this] { cdsTasksAfterScroll(); });
    // The count is of the tasks shown: a stored new task or a removed one changes it also when
    // the current task stays where it is.
    connect(m_cdsTasks, &DataTable::rowChanged, this, &TfrTasks::showItemCount);
    connect(m_cdsTasks, &DataTable::rowMoved, this, &TfrTasks::showItemCount);
    connect(m_cdsTasks, &DataTable::rowRemoved, this, &TfrTasks::showItemCount);
    connect(m_cdsTasks, &DataTable::rowsInserted, this, &TfrTasks::showItemCount);
    connect(m_cdsTasks, &DataTable::rowsRemoved, this, &TfrTasks::showItemCount);
    // A task stored in an outline may keep its place among the rows: only its count changes.
    connect(m_cdsTasks, &DataTable::rowsChanged, this, &TfrTasks::showItemCount);
    connect(m_cdsTasks, &DataTable::resetDone, this, &TfrTasks::showItemCount);
    connect(m_document, &ListDocument::captionChanged, this, &TfrTasks::captionChanged);
    connect(m_document, &ListDocument::modified, this, &TfrTasks::listMarkedUnsaved);
    connect(m_document, &ListDocument::markedSaved, this,
            [this] { setStatePanel(QStringLiteral("Saved")); });
    m_model = new TaskGridModel(m_cdsTasks, this);

    // The three bars have stretched pictures of their own under their controls.
    using Shade = DecorativeStrip::Shade;
    auto* filterBar = new DecorativeStrip(this, Shade::Soft);
    filterBar->setObjectName(QStringLiteral("pnlFilter"));
    filterBar->setFixedHeight(33);
    buildFilterBar(filterBar);

    auto* toolBand = new DecorativeStrip(this, Shade::Soft);
    toolBand->setObjectName(QStringLiteral("pnlToolBar"));
    toolBand->setFixedHeight(29);
    buildToolBar(toolBand);

    buildGrid();
    m_diskBar = new ChangedOnDiskBar(this);

    auto* quickAdd = new DecorativeStrip(this, Shade::Soft);
    quickAdd->setObjectName(QStringLiteral("pnlQuickAdd"));
    quickAdd->setFrameShape(QFrame::Panel);
    quickAdd->setFrameShadow(QFrame::Raised);
    quickAdd->setFixedHeight(42);
    buildQuickAddBar(quickAdd);

    auto* statusBar = new QFrame(this);
    statusBar->setObjectName(QStringLiteral("StatusBar1"));
    statusBar->setFixedHeight(19);
    buildStatusBar(statusBar);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(filterBar);
    layout->addWidget(toolBand);
    layout->addWidget(m_diskBar);
    layout->addWidget(DBGrid1, 1);
    layout->addWidget(quickAdd);
    layout->addWidget(statusBar);

    buildPopupMenu();
    buildOutline();

    DateTimePicker1 = new QDateEdit(this);
    DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
    DateTimePicker1->setCalendarPopup(true);
    DateTimePicker1->setDisplayFormat(uGeneral::ShortDateFormat());
    DateTimePicker1->setFixedHeight(21);
    DateTimePicker1->hide();
    if (QCalendarWidget* calendar = DateTimePicker1->calendarWidget()) {
        m_calendarPopup = calendar->window();
        connect(calendar, &QCalendarWidget::clicked, this, [this] { m_dayChosen = true; });
        connect(calendar, &QCalendarWidget::activated, this, [this] { m_dayChosen = true; });
    }

    // Wheel turns and the Enter key of the two text boxes are taken wherever they land in
    // the view, also in editors and boxes created later.
    watchTree(this);
}

TfrTasks::~TfrTasks() {
    // The table outlives nothing that still listens to it.
    m_cdsTasks->setAfterScroll({});
}

bool TfrTasks::command(const std::function<void()>& body, const QString& undoText) {
    return RunGuarded([&] {
        EndCellEdit();
        const TaskUndo::Step step(*m_undo, undoText);
        body();
    });
}

void TfrTasks::EndCellEdit() {
    QWidget* editor = DBGrid1->cellEditor();
    if (!editor)
        return;
    const QModelIndex cell = DBGrid1->currentIndex();
    if (const std::optional<QString> text = TaskGridDelegate::editorText(editor))
        m_model->writeCell(cell.row(), cell.column(), *text);
    DBGrid1->closeCellEditor();
}

// The first typed character puts the task into editing, as the table's edit does everywhere:
// the list is marked unsaved at once, before the text is written.
void TfrTasks::cellTypingStarted(QWidget* editor) {
    if (editor != DBGrid1->cellEditor())
        return;
    RunGuarded([&] { m_model->beginCellEdit(DBGrid1->currentIndex().row()); });
}

// --- document state --------------------------------------------------------------------------

void TfrTasks::InitList(const QString& name, bool isNew) {
    if (isNew) {
        m_document->createNew();
        showItemCount();
    } else if (!m_document->load(name)) {
        return;
    } else if (!m_document->loadNotice().isEmpty()) {
        Prompt::Notice(m_document->loadNotice());
    }
    // The boxes only show the start state; their handlers do not run.
    cbOrder->setCurrentIndex(ListViews::OrderChoices().indexOf(ListViews::OrderID));
    cbShow->setCurrentIndex(0);
    FocusQuickAdd();
}

void TfrTasks::FocusQuickAdd() {
    if (Edit2->isVisible() && Edit2->isEnabled())
        Edit2->setFocus();
}

void TfrTasks::InitRecovered(const QString& copyFile, const QString& originalFile, bool isNew,
                             const FileFingerprint& original) {
    m_document->loadRecovered(copyFile, originalFile, isNew, original);
    cbOrder->setCurrentIndex(ListViews::OrderChoices().indexOf(ListViews::OrderID));
    cbShow->setCurrentIndex(0);
}

void TfrTasks::listMarkedUnsaved() {
    if (!m_document->hasCaption())
        Prompt::Notice(QStringLiteral("Cannot set unsaved"));
    setStatePanel(QStringLiteral("Unsaved"));
}

TfrTasks::DocumentMarks TfrTasks::documentMarks() const {
    return {m_document->marks(), {m_panels[0]->text(), m_panels[1]->text()}};
}

void TfrTasks::restoreDocumentMarks(const DocumentMarks& marks) {
    m_document->restoreMarks(marks.document);
    for (int i = 0; i < 2; ++i)
        m_panels[i]->setText(marks.panels[i]);
}

QString TfrTasks::StatusPanelText(int panel) const {
    return m_panels[panel]->text();
}

void TfrTasks::cdsTasksAfterScroll() {
    // A batch of added rows runs both notifications for every row: only what the last one
    // wrote is shown, once, at the end of the batch (a label laid out again for each row would
    // cost more than the rows).
    showItemCount();
    if (m_cdsTasks->isAppendingRows())
        m_deferredState = QString();
    else
        m_panels[1]->clear();
}

void TfrTasks::showItemCount() {
    if (!m_cdsTasks->isAppendingRows())
        m_panels[0]->setText(QStringLiteral("Items %1").arg(m_cdsTasks->recordCount()));
}

void TfrTasks::setStatePanel(const QString& text) {
    if (m_cdsTasks->isAppendingRows())
        m_deferredState = text;
    else
        m_panels[1]->setText(text);
}

void TfrTasks::showDeferredPanels() {
    showItemCount();
    if (m_deferredState)
        m_panels[1]->setText(*m_deferredState);
    m_deferredState.reset();
}

bool TfrTasks::AddTasksInBulk(const std::function<bool(const DataTable::Progress&)>& command) {
    EndCellEdit();
    const BusyCursor busy;
    const DocumentMarks before = documentMarks();

    // A progress window once the command looks like taking more than half a second.
    constexpr qint64 ShowAfterMs = 500;
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> window;
    const DataTable::Progress progress = [&](int done, int total) {
        if (!window) {
            const qint64 elapsed = clock.elapsed();
            if (elapsed * total < ShowAfterMs * done && elapsed < ShowAfterMs)
                return true;
            window = std::make_unique<QProgressDialog>(QStringLiteral("Adding tasks..."),
                                                       QStringLiteral("Cancel"), 0, total, this);
            window->setObjectName(QStringLiteral("BulkProgress"));
            window->setWindowTitle(Prompt::AppTitle());
            window->setWindowModality(Qt::WindowModal);
            window->setMinimumDuration(0);
            window->setAutoReset(false);
            window->show();
        }
        window->setValue(done);
        QCoreApplication::processEvents(); // paints the window, hears its Cancel
        return !window->wasCanceled();
    };
    // Everything the command adds is one step of the undo history (none when it is cancelled).
    const TaskUndo::Step step(*m_undo);
    if (command(progress))
        return true;
    restoreDocumentMarks(before);
    return false;
}

// --- the grid --------------------------------------------------------------------------------

void TfrTasks::buildGrid() {
    DBGrid1 = new TaskGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setAccessibleName(QStringLiteral("Tasks"));
    m_delegate = new TaskGridDelegate(DBGrid1);
    DBGrid1->setItemDelegate(m_delegate);
    connect(m_delegate, &TaskGridDelegate::typingStarted, this,
            [this](QWidget* editor) { cellTypingStarted(editor); });
    DBGrid1->setModel(m_model);
    DBGrid1->setEditTriggers(QAbstractItemView::SelectedClicked |
                             QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    DBGrid1->setFrameShape(QFrame::NoFrame);
    DBGrid1->setShowGrid(true);
    DBGrid1->setWordWrap(false);
    DBGrid1->setTabKeyNavigation(true);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    QPalette pal = DBGrid1->palette();
    // The grid keeps its own colours in any theme; the cells' looks are chosen against them.
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    pal.setColor(QPalette::Highlight, ProgramColours::SelectedCell);
    pal.setColor(QPalette::HighlightedText, Qt::white);
    DBGrid1->setPalette(pal);

    QHeaderView* header = DBGrid1->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(8);
    header->setSortIndicatorShown(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: %1; color: black;"
                       " border: none; border-right: 1px solid rgb(150,150,160);"
                       " border-bottom: 1px solid rgb(150,150,160); padding-left: 2px; }")
            .arg(ProgramColours::Css(ProgramColours::ViewBackground)));

    // Widths and the hidden Details column are laid out once per field set, so a re-sorted or
    // re-filtered list keeps the widths and order the user dragged.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        QStringList fields;
        for (const GridColumn& column : m_model->columns())
            fields << column.field;
        if (fields == m_layoutFields)
            return;
        m_layoutFields = fields;
        m_fittedCounter = -1;
        for (int c = 0; c < m_model->columnCount(); ++c) {
            const GridColumn& column = m_model->columns()[static_cast<std::size_t>(c)];
            // One more pixel for the grid line, so the cell itself is as wide as listed; and
            // never narrower than its title needs.
            const int width =
                column.width > 0 ? column.width : defaultColumnWidth(m_model->fieldKind(c));
            DBGrid1->setColumnWidth(
                c, std::max(width + 1, DBGrid1->horizontalHeader()->sectionSizeHint(c)));
            DBGrid1->setColumnHidden(c, !column.shown);
        }
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { fitIdColumn(); });
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this] { fitIdColumn(); });
    connect(m_cdsTasks, &DataTable::currentChanged, this, [this] { followCurrentRow(); });
    connect(m_cdsTasks, &DataTable::resetDone, this, [this] { showDeferredPanels(); });
    DBGrid1->currentMoved = [this](const QModelIndex& current, const QModelIndex& previous) {
        gridCurrentMoved(current, previous);
    };
    DBGrid1->keyDown = [this](QKeyEvent* event) { return gridKey(event); };
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { DBGrid1TitleClick(column); });
    connect(DBGrid1, &QAbstractItemView::doubleClicked, this, [this] { DBGrid1DblClick(); });
    DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(DBGrid1->viewport()->mapToGlobal(pos));
    });
}

// IDs are drawn right-aligned and clipped on the left: the column grows with the highest ID so
// that a long list never shows an ID cut to its last digits.
void TfrTasks::fitIdColumn() {
    if (m_cdsTasks->autoIncValue() == m_fittedCounter)
        return;
    m_fittedCounter = m_cdsTasks->autoIncValue();
    const auto& columns = m_model->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].field != TaskRecord::ID)
            continue;
        QFont bold = DBGrid1->font();
        bold.setBold(true);
        const int needed =
            QFontMetrics(bold).horizontalAdvance(QString::number(m_cdsTasks->autoIncValue())) + 7;
        if (DBGrid1->columnWidth(int(c)) < needed)
            DBGrid1->setColumnWidth(int(c), needed);
        return;
    }
}

QString TfrTasks::SelectedField() const {
    const QModelIndex current = DBGrid1->currentIndex();
    return current.isValid() ? m_model->fieldName(current.column()) : QString();
}

// The grid follows the table: whatever moved the table (a command, a filter, the wheel), the
// selected cell goes to the table's current row in the column last selected.
void TfrTasks::followCurrentRow() {
    if (m_model->columnCount() == 0)
        return;
    const QScopedValueRollback<bool> following(m_following, true);
    const int row = m_cdsTasks->currentIndex();
    if (row < 0 || row >= m_model->rowCount()) {
        DBGrid1->selectionModel()->clearCurrentIndex();
        return;
    }
    const QModelIndex current = DBGrid1->currentIndex();
    int column = current.isValid() ? current.column() : m_lastColumn;
    if (column < 0 || column >= m_model->columnCount() || DBGrid1->isColumnHidden(column))
        column = 0;
    const QModelIndex target = m_model->index(row, column);
    if (current != target)
        DBGrid1->setCurrentIndex(target);
    else // the current task moved to its place in the order: the grid still shows it
        DBGrid1->scrollTo(target);
}

// The table follows the grid: a cell chosen in another row makes that task current. The row
// pending before is settled first, which may move rows, so the task is found by identity.
void TfrTasks::gridCurrentMoved(const QModelIndex& current, const QModelIndex& previous) {
    if (current.isValid()) {
        m_lastColumn = current.column();
        if (!previous.isValid() || previous.column() != current.column())
            RunGuarded([&] { DBGrid1ColEnter(); });
    }
    if (m_following || m_model->isChangingRows() || !current.isValid())
        return;
    if (current.row() == m_cdsTasks->currentIndex())
        return;
    const DataTable::RowId task = m_model->rowIdAt(current.row());
    RunGuarded([&] { m_cdsTasks->goToRow(task); });
    followCurrentRow();
}

void TfrTasks::DBGrid1ColEnter() {
    const QModelIndex current = DBGrid1->currentIndex();
    if (!m_model->isDateColumn(current.column()))
        DateTimePicker1->hide();
    if (SelectedField().compare(TaskRecord::Category, Qt::CaseInsensitive) == 0)
        m_delegate->setCategoryPickList(categoryLines());
}

QStringList TfrTasks::categoryLines() const {
    if (m_services.categoryLines)
        return m_services.categoryLines();
    QStringList lines;
    for (int i = 0; i < cbCat->count(); ++i)
        lines << cbCat->itemText(i);
    return lines;
}

bool TfrTasks::gridKey(QKeyEvent* event) {
    bool taken = false;
    RunGuarded([&] {
        taken = DBGrid1KeyDown(event->key(), event->modifiers()) || DBGrid1KeyPress(event->text());
    });
    return taken;
}

bool TfrTasks::DBGrid1KeyDown(int key, Qt::KeyboardModifiers shift) {
    const Qt::KeyboardModifiers modifiers = shift & ~Qt::KeypadModifier;
    const QModelIndex current = DBGrid1->currentIndex();
    if (modifiers == Qt::NoModifier) {
        switch (key) {
        case Qt::Key_Down:
            // Never past the last task: the grid adds no blank task that way.
            return !current.isValid() || current.row() + 1 >= m_model->rowCount();
        case Qt::Key_Insert:
            command([&] { m_cdsTasks->insert(); });
            return true;
        case Qt::Key_Escape:
            // The editor took the first Escape; this one drops the row's unstored changes.
            if (!m_cdsTasks->isEditing())
                return false;
            m_cdsTasks->cancel();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!TaskGridDelegate::isVocabularyField(SelectedField()))
                DBGrid1->editCurrentCell();
            return true;
        default:
            return false;
        }
    }
    if (modifiers == Qt::ControlModifier && key == Qt::Key_Delete) {
        command([&] {
            if (!Prompt::Confirm(QStringLiteral("Delete record?")))
                return;
            const DataTable::RowId row = m_cdsTasks->currentRow();
            const bool stored = row >= 0 && m_cdsTasks->state() != DataTable::State::Insert;
            if (stored && !m_cdsTasks->descendantsOf(row).empty()) {
                const int subtasks = static_cast<int>(m_cdsTasks->descendantsOf(row).size());
                const int choice = Prompt::Choose(OutlineCommands::DeleteQuestion(subtasks),
                                                  OutlineCommands::DeleteChoices());
                if (choice != 0 && choice != 1)
                    return;
                OutlineCommands::DeleteRow(*m_cdsTasks, row, choice == 0);
            } else {
                m_cdsTasks->remove();
            }
            // A deleted task is a change to save like any other.
            MarkUnsaved();
        });
        return true;
    }
    return false;
}

bool TfrTasks::DBGrid1KeyPress(const QString& text) {
    if (text.isEmpty())
        return false;
    const QChar typed = text.at(0);
    if (typed < u' ' || typed == QChar(0x7f))
        return false;
    if (TaskGridDelegate::isVocabularyField(SelectedField()))
        return true;
    // A cell that takes no typing ignores it (rather than jumping to a task by its text).
    const QModelIndex current = DBGrid1->currentIndex();
    return !current.isValid() || !(m_model->flags(current) & Qt::ItemIsEditable);
}

void TfrTasks::DBGrid1TitleClick(int column) {
    command([&] {
        const QString choice = ListViews::ApplyColumnOrder(*m_cdsTasks, m_model->fieldName(column));
        // Showing the order is no choice in the box: its handler does not run.
        cbOrder->setCurrentIndex(choice.isEmpty() ? -1 : cbOrder->findText(choice));
    });
}

void TfrTasks::DBGrid1DblClick() {
    if (SelectedField() == TaskTable::Repeat) {
        Repeat1Click(); // how a task repeats is set in its own window
        return;
    }
    RunGuarded([&] {
        if (!m_model->isDateColumn(DBGrid1->currentIndex().column()))
            return;
        EndCellEdit();
        callUpDatePicker();
    });
}

void TfrTasks::callUpDatePicker() {
    const QModelIndex current = DBGrid1->currentIndex();
    const QRect cell = DBGrid1->visualRect(current);
    const QPoint topLeft = DBGrid1->viewport()->mapTo(this, cell.topLeft());
    DateTimePicker1->setGeometry(topLeft.x(), topLeft.y(), cell.width(), 21);
    QDate date;
    try {
        date = m_cdsTasks->asDate(SelectedField());
    } catch (const CorvantisError&) {
        // A text the list holds as a date but cannot read: start from today.
    }
    DateTimePicker1->setDate(date.isValid() ? date : uGeneral::Today());
    m_dayChosen = false;
    DateTimePicker1->show();
    DateTimePicker1->raise();
    DateTimePicker1->setFocus();
}

void TfrTasks::DateTimePicker1CloseUp(bool dayChosen) {
    // Only a chosen day is written: dismissing the calendar leaves the task as it was.
    RunGuarded([&] {
        if (!dayChosen || !m_model->isDateColumn(DBGrid1->currentIndex().column()))
            return;
        if (!m_cdsTasks->isEditing())
            m_cdsTasks->edit();
        m_cdsTasks->setDate(SelectedField(), DateTimePicker1->date());
        m_cdsTasks->post();
    });
    m_dayChosen = false;
    const bool hadFocus = DateTimePicker1->hasFocus();
    DateTimePicker1->hide();
    if (hadFocus)
        DBGrid1->setFocus();
}

bool TfrTasks::FrameMouseWheel(int delta) {
    if (delta == 0 || !m_cdsTasks->isActive())
        return true;
    command([&] {
        if (delta > 0)
            m_cdsTasks->prior();
        else
            m_cdsTasks->next();
    });
    return true;
}

void TfrTasks::watchTree(QObject* widget) {
    widget->installEventFilter(this);
    for (QObject* child : widget->children())
        if (child->isWidgetType())
            watchTree(child);
}

bool TfrTasks::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ChildAdded:
        // Cell editors, pick lists and the like come and go; each is watched from its start.
        if (QObject* child = static_cast<QChildEvent*>(event)->child(); child->isWidgetType())
            watchTree(child);
        break;
    case QEvent::Wheel: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && (widget == this || isAncestorOf(widget))) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            wheel->accept();
            return FrameMouseWheel(wheel->angleDelta().y());
        }
        break;
    }
    case QEvent::KeyPress:
        if (watched == Edit2 || watched == edSearch) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                const bool shift = static_cast<QKeyEvent*>(event)->modifiers() & Qt::ShiftModifier;
                if (watched == Edit2 && shift)
                    QuickAddSubtaskClick();
                else if (watched == Edit2)
                    btnQuickAdd->click(); // exactly as by the mouse
                else
                    bnSearchClick();
                return true;
            }
        }
        break;
    case QEvent::Hide:
        if (watched == m_calendarPopup) {
            // The calendar reports a chosen day only after it closed.
            QTimer::singleShot(0, this, [this] { DateTimePicker1CloseUp(m_dayChosen); });
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// The bars around the grid and the context menu: their controls and what they run.
#include "model/DataTable.h"
#include "model/ListViews.h"
#include "model/TaskCommands.h"
#include "model/TaskRecord.h"
#include "view/TaskGrid.h"
#include "view/TaskGridDelegate.h"
#include "view/uFrTasks.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"
#include "widgets/Prompt.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <vector>

using namespace TaskRecord;

namespace {

QLabel* addLabel(QWidget* bar, const QString& text, int x, int y) {
    auto* label = new QLabel(text, bar);
    label->adjustSize();
    label->move(x, y);
    return label;
}

QComboBox* addChoiceBox(QWidget* bar, const QString& name, const QStringList& items,
                        const QRect& geometry) {
    auto* box = new QComboBox(bar);
    box->setObjectName(name);
    box->addItems(items);
    box->setGeometry(geometry);
    return box;
}

} // namespace

// --- filter bar ------------------------------------------------------------------------------

void TfrTasks::buildFilterBar(QWidget* bar) {
    QLabel* filterLabel = addLabel(bar, QStringLiteral("Filter Task"), 8, 9);
    edSearch = new QLineEdit(bar);
    edSearch->setObjectName(QStringLiteral("edSearch"));
    edSearch->setGeometry(64, 6, 337, 21);
    filterLabel->setBuddy(edSearch); // a screen reader names the box by its label

    auto filterButton = [bar](const QString& name, const QString& hint, const QString& icon,
                              int x) {
        auto* button = new QToolButton(bar);
        button->setObjectName(name);
        button->setToolTip(hint);
        button->setAccessibleName(hint.trimmed()); // a picture alone says nothing to a reader
        button->setIcon(ThemeIcon(icon));
        button->setAutoRaise(true);
        button->setCheckable(true);
        button->setGeometry(x, 5, 23, 22);
        return button;
    };
    bnSearch = filterButton(QStringLiteral("bnSearch"), QStringLiteral("Filter"),
                            QStringLiteral("edit-find"), 407);
    bnCancelFilter =
        filterButton(QStringLiteral("bnCancelFilter"), QStringLiteral("Undoc Filter (Show All)"),
                     QStringLiteral("edit-clear"), 432);
    // Exactly one of the pair shows pressed; only a mouse click moves it.
    m_filterButtons = new QButtonGroup(this);
    m_filterButtons->setExclusive(true);
    m_filterButtons->addButton(bnSearch);
    m_filterButtons->addButton(bnCancelFilter);
    bnCancelFilter->setChecked(true);
    connect(bnSearch, &QToolButton::clicked, this, [this] { bnSearchClick(); });
    connect(bnCancelFilter, &QToolButton::clicked, this, [this] { bnCancelFilterClick(); });

    QLabel* showLabel = addLabel(bar, QStringLiteral("Only Show"), 472, 9);
    cbShow = addChoiceBox(bar, QStringLiteral("cbShow"), ListViews::ShowChoices(),
                          QRect(528, 6, 161, 21));
    QLabel* orderLabel = addLabel(bar, QStringLiteral("Sort by"), 705, 9);
    cbOrder = addChoiceBox(bar, QStringLiteral("cbOrder"), ListViews::OrderChoices(),
                           QRect(744, 6, 97, 21));
    cbOrder->setCurrentIndex(ListViews::OrderChoices().indexOf(ListViews::OrderID));
    showLabel->setBuddy(cbShow);
    orderLabel->setBuddy(cbOrder);
    // A wider face moves the boxes right rather than run the labels into them.
    using DialogParts::Natural;
    DialogParts::PlaceInRow({{filterLabel, 8, Natural},
                             {edSearch, 64, 337},
                             {bnSearch, 407, 23},
                             {bnCancelFilter, 432, 23},
                             {showLabel, 472, Natural},
                             {cbShow, 528, 161},
                             {orderLabel, 705, Natural},
                             {cbOrder, 744, 97}});
    // Only a choice the user makes runs the handlers; the view sets the boxes quietly.
    connect(cbShow, &QComboBox::activated, this, [this] { cbShowChange(); });
    connect(cbOrder, &QComboBox::activated, this, [this] { cbOrderChange(); });
}

void TfrTasks::bnSearchClick() {
    command([&] { ListViews::ApplySearch(*m_cdsTasks, edSearch->text()); });
}

void TfrTasks::bnCancelFilterClick() {
    command([&] {
        ListViews::CancelFilter(*m_cdsTasks);
        edSearch->clear();
    });
}

void TfrTasks::cbShowChange() {
    command([&] { ListViews::ApplyPreset(*m_cdsTasks, cbShow->currentText()); });
}

void TfrTasks::cbOrderChange() {
    command([&] { ListViews::ApplyOrder(*m_cdsTasks, cbOrder->currentText()); });
}

// --- task toolbar ----------------------------------------------------------------------------

namespace {

using Handler = void (TfrTasks::*)();

// One button of the task toolbar; an entry without a name is a separator.
struct ToolEntry {
    const char* name;
    const char* hint;
    const char* icon;
    Handler handler;
};

// The "Add Task" and the three "Open" buttons run what their hints name.
const std::vector<ToolEntry>& ToolEntries() {
    static const std::vector<ToolEntry> entries{
        {"tbAddTask", "Add Task", "list-add", &TfrTasks::btnQuickAddClick},
        {},
        {"tbCancelTask", "Set Cancelled ", "dialog-cancel", &TfrTasks::actCancelExecute},
        {"tbPauseTask", "Set Paused", "media-playback-pause", &TfrTasks::actPauseExecute},
        {"tbStartTask", "Set to Started", "media-playback-start", &TfrTasks::acInProgressExecute},
        {"tbCompleteTask", "Set to Complete ", "task-complete", &TfrTasks::actCompleteExecute},
        {},
        {"tbDeleteTask", "Delete Task", "edit-delete", &TfrTasks::actDeleteExecute},
        {"tbSetProgress", "Set Task Progress", "corvantis-task-progress",
         &TfrTasks::acSetProgressExecute},
        {"tbBookmark", "Bookmark Task", "bookmark-new", &TfrTasks::actBookmarkExecute},
        {"tbSetDate", "Date ", "view-calendar-day", &TfrTasks::actSetDateExecute},
        {},
        {"ToolButton9", "Link Task List", "corvantis-list-link", &TfrTasks::ToolButton9Click},
        {"tbLinkFile", "Link to Related File", "mail-attachment", &TfrTasks::LinktoFile1Click},
        {"tbLinkURL", "Link to URL", "insert-link", &TfrTasks::LinktoURL1Click},
        {},
        {"tbOpenList", "Open linked List", "corvantis-list-open",
         &TfrTasks::OpenLinkedTaskList1Click},
        {"tbOpenFile", "Open Linked File", "quickopen-file", &TfrTasks::OpenRelatedFile1Click},
        {"tbOpenURL", "Open URL", "internet-web-browser", &TfrTasks::OpenURL1Click},
        {},
    };
    return entries;
}

// One entry of the grid's context menu; an entry without a name is a separator.
struct MenuEntry {
    const char* name;
    const char* text;
    const char* icon;
    Handler handler;
    QKeySequence shortcut = {};
    bool whileEditing = true; // the key also works while a cell is being edited
};

const std::vector<MenuEntry>& MenuEntries() {
    static const std::vector<MenuEntry> entries{
        {"actCancel", "Cancel Task", "dialog-cancel", &TfrTasks::actCancelExecute},
        {"actPause", "Pause Task", "media-playback-pause", &TfrTasks::actPauseExecute},
        {"acInProgress", "Start Task", "media-playback-start", &TfrTasks::acInProgressExecute},
        {"actComplete", "Complete Task", "task-complete", &TfrTasks::actCompleteExecute},
        {"actSkip", "Skip Occurrence", "media-skip-forward", &TfrTasks::SkipOccurrence1Click},
        {"actDelete", "Delete Task", "edit-delete", &TfrTasks::actDeleteExecute,
         QKeySequence(Qt::Key_Delete)},
        {},
        {"NewSubtask1", "New Subtask", "list-add", &TfrTasks::NewSubtask1Click,
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
        {"MakeSubtaskOf1", "Make Subtask Of...", "go-jump", &TfrTasks::MakeSubtaskOf1Click},
        {"Indent1", "Indent", "format-indent-more", &TfrTasks::Indent1Click,
         QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Right)},
        {"Outdent1", "Outdent", "format-indent-less", &TfrTasks::Outdent1Click,
         QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Left)},
        {"Expand1", "Expand", "go-down", &TfrTasks::Expand1Click,
         QKeySequence(Qt::CTRL | Qt::Key_Right), false},
        {"Collapse1", "Collapse", "go-next", &TfrTasks::Collapse1Click,
         QKeySequence(Qt::CTRL | Qt::Key_Left), false},
        {"ExpandAll1", "Expand All", "expand-all", &TfrTasks::ExpandAll1Click},
        {"CollapseAll1", "Collapse All", "collapse-all", &TfrTasks::CollapseAll1Click},
        {},
        {"acSetProgress", "Progress", "corvantis-task-progress", &TfrTasks::acSetProgressExecute},
        {"actSetDate", "Set Date", "view-calendar-day", &TfrTasks::actSetDateExecute},
        {"actRepeat", "Repeat...", "media-playlist-repeat", &TfrTasks::Repeat1Click},
        {"actBookmark", "Bookmark Task", "bookmark-new", &TfrTasks::actBookmarkExecute},
        {"ActLastNow", "Last Actioned Now", "chronometer", &TfrTasks::ActLastNowExecute},
        {},
        {"Link1", "Link to Task List", "corvantis-list-link", &TfrTasks::Link1Click},
        {"LinktoFile1", "Link to Related File", "mail-attachment", &TfrTasks::LinktoFile1Click,
         QKeySequence(Qt::CTRL | Qt::Key_F)},
        {"LinktoURL1", "Link to URL", "insert-link", &TfrTasks::LinktoURL1Click,
         QKeySequence(Qt::CTRL | Qt::Key_U)},
        {"OpenLinkedTaskList1", "Open Linked Task List", "corvantis-list-open",
         &TfrTasks::OpenLinkedTaskList1Click},
        {"OpenRelatedFile1", "Open Related File", "quickopen-file",
         &TfrTasks::OpenRelatedFile1Click},
        {"OpenURL1", "Open URL", "internet-web-browser", &TfrTasks::OpenURL1Click},
        {},
        {"Copy1", "Copy", "edit-copy", &TfrTasks::Copy1Click, QKeySequence(Qt::CTRL | Qt::Key_C)},
        {},
        {"Comments1", "Comments", "edit-comment", &TfrTasks::Comments1Click},
        {"Details1", "Details", "document-properties", &TfrTasks::Details1Click,
         QKeySequence(Qt::Key_F12)},
        {"History1", "History...", "view-history", &TfrTasks::History1Click},
    };
    return entries;
}

} // namespace

void TfrTasks::buildToolBar(QWidget* band) {
    ToolBar1 = new QToolBar(band);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setAccessibleName(QStringLiteral("Task commands"));
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { background: transparent; border: none; }"));
    auto* layout = new QHBoxLayout(band);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    layout->addStretch();

    for (const ToolEntry& entry : ToolEntries()) {
        if (!entry.name) {
            ToolBar1->addSeparator();
            continue;
        }
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QLatin1String(entry.name));
        button->setToolTip(QLatin1String(entry.hint));
        button->setAccessibleName(QString::fromLatin1(entry.hint).trimmed());
        button->setIcon(ThemeIcon(QLatin1String(entry.icon)));
        button->setAutoRaise(true);
        button->setFixedSize(25, 24);
        button->setFocusPolicy(Qt::NoFocus);
        const Handler handler = entry.handler;
        connect(button, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
        ToolBar1->addWidget(button);
    }
}

// --- quick-add bar ---------------------------------------------------------------------------

void TfrTasks::buildQuickAddBar(QWidget* bar) {
    QLabel* addTaskLabel = addLabel(bar, QStringLiteral("Add Task"), 15, 14);
    Edit2 = new QLineEdit(bar);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    QFont taskFont = font();
    taskFont.setPointSize(9);
    Edit2->setFont(taskFont);
    Edit2->setGeometry(72, 10, 465, 22);
    addTaskLabel->setBuddy(Edit2);
    auto* paste =
        new QAction(ThemeIcon(QStringLiteral("edit-paste")), QStringLiteral("Paste"), Edit2);
    paste->setObjectName(QStringLiteral("Paste1"));
    connect(paste, &QAction::triggered, this, [this] { Paste1Click(); });
    Edit2->addAction(paste);
    Edit2->setContextMenuPolicy(Qt::ActionsContextMenu);

    cbDifficulty = addChoiceBox(bar, QStringLiteral("cbDifficulty"), QuickAddDifficultyChoices(),
                                QRect(544, 10, 89, 21));
    cbDifficulty->setToolTip(QStringLiteral("Difficulty"));
    cbDifficulty->setAccessibleName(QStringLiteral("Difficulty"));
    cbDifficulty->setCurrentIndex(QuickAddDifficultyChoices().indexOf(Moderate));
    cbPriority = addChoiceBox(bar, QStringLiteral("cbPriority"), QuickAddPriorityChoices(),
                              QRect(640, 10, 89, 21));
    cbPriority->setToolTip(QStringLiteral("Priority"));
    cbPriority->setAccessibleName(QStringLiteral("Priority"));
    cbCat = addChoiceBox(bar, QStringLiteral("cbCat"), {}, QRect(736, 10, 145, 21));
    cbCat->setEditable(true);
    cbCat->setInsertPolicy(QComboBox::NoInsert);
    cbCat->setToolTip(QStringLiteral("Category"));
    cbCat->setAccessibleName(QStringLiteral("Category"));
    // The keyboard lands in its text box, which a reader announces on its own.
    cbCat->lineEdit()->setAccessibleName(QStringLiteral("Category"));
    cbCat->setCurrentText(QString());

    btnQuickAdd =
        new QPushButton(ThemeIcon(QStringLiteral("list-add")), QStringLiteral("Add"), bar);
    btnQuickAdd->setObjectName(QStringLiteral("btnQuickAdd"));
    btnQuickAdd->setToolTip(QStringLiteral("Add Task (ENTER key)"));
    btnQuickAdd->setGeometry(889, 8, 58, 25);
    connect(btnQuickAdd, &QPushButton::clicked, this, [this] { btnQuickAddClick(); });
    using DialogParts::Natural;
    DialogParts::PlaceInRow({{addTaskLabel, 15, Natural},
                             {Edit2, 72, 465},
                             {cbDifficulty, 544, 89},
                             {cbPriority, 640, 89},
                             {cbCat, 736, 145},
                             {btnQuickAdd, 889, 58}});
}

void TfrTasks::SetCategoryChoices(const QStringList& categories) {
    const QString shown = cbCat->currentText();
    cbCat->clear();
    cbCat->addItems(categories);
    cbCat->setCurrentText(shown);
}

void TfrTasks::btnQuickAddClick() {
    command([&] {
        TaskCommands::QuickAddBar bar;
        bar.text = Edit2->text();
        bar.priority = cbPriority->currentText();
        bar.difficulty = cbDifficulty->currentText();
        bar.category = cbCat->currentText();
        const TaskCommands::QuickAddBar after =
            TaskCommands::QuickAdd(*m_cdsTasks, markUnsaved(), bar);
        if (after.text == bar.text)
            return; // nothing was added; the bar stays as it is
        Edit2->setText(after.text);
        cbPriority->setCurrentIndex(cbPriority->findText(after.priority));
        cbDifficulty->setCurrentIndex(cbDifficulty->findText(after.difficulty));
    });
}

void TfrTasks::Paste1Click() {
    RunGuarded([&] { Edit2->paste(); });
}

// --- status bar ------------------------------------------------------------------------------

void TfrTasks::buildStatusBar(QWidget* bar) {
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    // At least 150 and 50 wide, and as wide as their longest texts need.
    const int widths[2] = {150, 50};
    const QString longest[2] = {QStringLiteral("Items 0000000"), QStringLiteral("Unsaved")};
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(bar);
        m_panels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setIndent(2);
        const int need = m_panels[i]->fontMetrics().horizontalAdvance(longest[i]) +
                         2 * m_panels[i]->frameWidth() + m_panels[i]->indent();
        m_panels[i]->setFixedWidth(std::max(widths[i], need));
        layout->addWidget(m_panels[i]);
    }
    m_note = new QLabel(bar);
    m_note->setObjectName(QStringLiteral("StatusNote"));
    m_note->setIndent(4);
    m_note->setTextFormat(Qt::PlainText);
    layout->addWidget(m_note, 1);
    m_noteTimer = new QTimer(this);
    m_noteTimer->setSingleShot(true);
    connect(m_noteTimer, &QTimer::timeout, m_note, &QLabel::clear);
}

// --- context menu ----------------------------------------------------------------------------

void TfrTasks::buildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QList<QKeySequence> keys;
    for (const MenuEntry& entry : MenuEntries()) {
        if (!entry.name) {
            PopupMenu1->addSeparator();
            continue;
        }
        auto* action =
            new QAction(ThemeIcon(QLatin1String(entry.icon)), QLatin1String(entry.text), this);
        action->setObjectName(QLatin1String(entry.name));
        const Handler handler = entry.handler;
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        if (!entry.shortcut.isEmpty()) {
            // Works while the grid or its cell editor has the focus.
            action->setShortcut(entry.shortcut);
            action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            DBGrid1->addAction(action);
            if (entry.whileEditing)
                keys << entry.shortcut;
        }
        PopupMenu1->addAction(action);
    }
    m_delegate->setEditorShortcuts(keys);
    // Skip is offered for a task that repeats.
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] {
        if (auto* skip = findChild<QAction*>(QStringLiteral("actSkip")))
            skip->setEnabled(CurrentTaskRepeats());
    });
    // Ctrl+H is the main window's (Edit menu); the entry shows it and takes it only while the
    // menu is open.
    if (auto* history = findChild<QAction*>(QStringLiteral("History1"))) {
        history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
        history->setShortcutContext(Qt::WidgetShortcut);
    }
}

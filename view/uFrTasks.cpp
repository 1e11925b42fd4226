#include "view/uFrTasks.h"

#include "model/DataTable.h"
#include "model/TaskTable.h"
#include "shell/ErrorBox.h"
#include "shell/Prompt.h"
#include "storage/DataPacket.h"
#include "view/TaskGridModel.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

TfrTasks::TfrTasks(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frTasks"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(208, 208, 216));
    setPalette(pal);

    m_cdsTasks = new DataTable(this);
    TaskTable::Configure(*m_cdsTasks);
    m_cdsTasks->setAfterInsert([this] { cdsTasksAfterInsert(); });
    m_cdsTasks->setAfterEdit([this] { cdsTasksAfterEdit(); });
    m_cdsTasks->setAfterScroll([this] { cdsTasksAfterScroll(); });

    m_model = new TaskGridModel(m_cdsTasks, this);
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(m_model);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    DBGrid1->setFrameShape(QFrame::NoFrame);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        for (int c = 0; c < m_model->columnCount(); ++c) {
            const GridColumn& column = m_model->columns()[static_cast<std::size_t>(c)];
            if (column.width > 0)
                DBGrid1->setColumnWidth(c, column.width);
            DBGrid1->setColumnHidden(c, !column.shown);
        }
    });
    connect(m_cdsTasks, &DataTable::currentChanged, this, [this] { followCurrentRow(); });
    connect(DBGrid1, &QTableView::clicked, this, [this](const QModelIndex& index) {
        RunGuarded([&] { m_cdsTasks->goToRow(m_cdsTasks->rowIdAt(index.row())); });
    });

    auto* quickAdd = new QFrame(this);
    quickAdd->setObjectName(QStringLiteral("pnlQuickAdd"));
    quickAdd->setFrameShape(QFrame::StyledPanel);
    quickAdd->setFixedHeight(42);
    auto* quickLayout = new QHBoxLayout(quickAdd);
    cbCat = new QComboBox(quickAdd);
    cbCat->setObjectName(QStringLiteral("cbCat"));
    cbCat->setEditable(true);
    cbCat->setToolTip(QStringLiteral("Category"));
    cbCat->setFixedWidth(145);
    cbCat->setCurrentText(QString());
    quickLayout->addStretch();
    quickLayout->addWidget(cbCat);

    auto* statusBar = new QFrame(this);
    statusBar->setObjectName(QStringLiteral("StatusBar1"));
    statusBar->setFixedHeight(19);
    auto* statusLayout = new QHBoxLayout(statusBar);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(2);
    const int widths[2] = {150, 50};
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(statusBar);
        m_panels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setMinimumWidth(widths[i]);
        statusLayout->addWidget(m_panels[i]);
    }
    statusLayout->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(DBGrid1, 1);
    layout->addWidget(quickAdd);
    layout->addWidget(statusBar);
}

TfrTasks::~TfrTasks() {
    // The table outlives nothing that still listens to it.
    m_cdsTasks->setAfterInsert({});
    m_cdsTasks->setAfterEdit({});
    m_cdsTasks->setAfterScroll({});
}

void TfrTasks::InitList(const QString& name, bool isNew) {
    if (isNew) {
        TaskTable::CreateEmpty(*m_cdsTasks);
        cdsTasksAfterScroll();
        m_isNew = true;
        MarkUnsaved();
    } else {
        if (!QFileInfo::exists(name))
            return;
        DataPacket::LoadFromFile(*m_cdsTasks, name);
        m_listFileName = name;
        m_cdsTasks->first();
    }
    m_cdsTasks->setIndexName(TaskTable::IndexID);
}

QTabWidget* TfrTasks::tabStrip(int* pageIndex) const {
    QWidget* page = parentWidget();
    QWidget* stack = page ? page->parentWidget() : nullptr;
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    const int index = tabs ? tabs->indexOf(page) : -1;
    if (index < 0)
        return nullptr;
    *pageIndex = index;
    return tabs;
}

void TfrTasks::MarkUnsaved() {
    m_unsaved = true;
    int page = -1;
    if (QTabWidget* tabs = tabStrip(&page)) {
        const QString caption = tabs->tabText(page);
        if (!caption.contains(u'*')) {
            m_savedCaption = caption;
            tabs->setTabText(page, caption + QStringLiteral(" *"));
        }
    } else {
        Prompt::Notice(QStringLiteral("Cannot set unsaved"));
    }
    m_panels[1]->setText(QStringLiteral("Unsaved"));
}

void TfrTasks::MarkSaved() {
    m_unsaved = false;
    int page = -1;
    if (QTabWidget* tabs = tabStrip(&page))
        tabs->setTabText(page, m_savedCaption);
    m_panels[1]->setText(QStringLiteral("Saved"));
}

void TfrTasks::SetCategoryChoices(const QStringList& categories) {
    const QString shown = cbCat->currentText();
    cbCat->clear();
    cbCat->addItems(categories);
    cbCat->setCurrentText(shown);
}

QString TfrTasks::StatusPanelText(int panel) const {
    return m_panels[panel]->text();
}

void TfrTasks::cdsTasksAfterInsert() {
    TaskTable::ApplyNewRowDefaults(*m_cdsTasks);
    MarkUnsaved();
}

void TfrTasks::cdsTasksAfterEdit() {
    MarkUnsaved();
}

void TfrTasks::cdsTasksAfterScroll() {
    m_panels[0]->setText(QStringLiteral("Items %1").arg(m_cdsTasks->recordCount()));
    m_panels[1]->clear();
}

void TfrTasks::followCurrentRow() {
    const int row = m_cdsTasks->currentIndex();
    if (row < 0 || m_model->columnCount() == 0)
        return;
    const int column = std::max(DBGrid1->currentIndex().column(), 0);
    DBGrid1->setCurrentIndex(m_model->index(row, column));
}

#include "dialogs/uFrmParentTask.h"

#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "widgets/DialogParts.h"

#include <QAbstractListModel>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

#include <unordered_set>
#include <vector>

// The tasks offered, as "ID  Task", narrowed to those whose text or ID holds what was typed.
class ParentChoices : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setTask(const DataTable& table, DataTable::RowId row) {
        beginResetModel();
        m_texts.clear();
        m_rows.clear();
        const int idField = table.autoIncField();
        const int taskField = table.fieldIndex(TaskRecord::Task);
        const std::vector<DataTable::RowId> under = table.descendantsOf(row);
        std::unordered_set<DataTable::RowId> skip(under.begin(), under.end());
        skip.insert(row);
        for (const DataTable::RowId task : table.allRows()) {
            if (skip.count(task))
                continue;
            const RowData& values = table.rowData(task);
            const QString id = idField >= 0 ? table.textOf(values, idField) : QString();
            const QString text = taskField >= 0 ? table.textOf(values, taskField) : QString();
            m_rows.push_back(task);
            m_texts.push_back(id + QStringLiteral("  ") + text.section(u'\n', 0, 0));
        }
        m_shown.clear();
        endResetModel();
        find(QString());
    }

    void clear() {
        beginResetModel();
        m_texts.clear();
        m_rows.clear();
        m_shown.clear();
        endResetModel();
    }

    void find(const QString& typed) {
        beginResetModel();
        m_shown.clear();
        const QString text = typed.trimmed();
        for (std::size_t i = 0; i < m_rows.size(); ++i)
            if (text.isEmpty() || m_texts[i].contains(text, Qt::CaseInsensitive))
                m_shown.push_back(static_cast<int>(i));
        endResetModel();
    }

    // The row of a line: -1 for "(Top level)", the first line.
    DataTable::RowId rowAt(int line) const {
        return line <= 0 ? -1 : m_rows[std::size_t(m_shown[std::size_t(line - 1)])];
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_shown.size()) + 1;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return QVariant();
        if (index.row() == 0)
            return QStringLiteral("(Top level)");
        return m_texts[std::size_t(m_shown[std::size_t(index.row() - 1)])];
    }

private:
    std::vector<DataTable::RowId> m_rows;
    std::vector<QString> m_texts;
    std::vector<int> m_shown; // indexes into m_rows
};

TfrmParentTask::TfrmParentTask(QWidget* parent) : QDialog(parent) {
    DialogParts::SetUp(*this, QStringLiteral("frmParentTask"), QStringLiteral("Make Subtask Of"),
                       QSize(420, 360), DialogParts::Frame::Sizeable);
    m_choices = new ParentChoices(this);

    auto* findLabel = new QLabel(QStringLiteral("&Find:"), this);
    edFind = new QLineEdit(this);
    edFind->setObjectName(QStringLiteral("edFind"));
    findLabel->setBuddy(edFind);
    lstTasks = new QListView(this);
    lstTasks->setObjectName(QStringLiteral("lstTasks"));
    lstTasks->setAccessibleName(QStringLiteral("Tasks"));
    lstTasks->setModel(m_choices);
    lstTasks->setUniformItemSizes(true); // thousands of tasks lay out at once
    lstTasks->setEditTriggers(QAbstractItemView::NoEditTriggers);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));

    auto* findRow = new QHBoxLayout;
    findRow->addWidget(findLabel);
    findRow->addWidget(edFind, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Choose the task to put it under:"), this));
    layout->addLayout(findRow);
    layout->addWidget(lstTasks, 1);
    layout->addLayout(buttons);

    connect(edFind, &QLineEdit::textChanged, this, &TfrmParentTask::find);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstTasks, &QListView::activated, this, &QDialog::accept);
    // Up and Down in the text box walk the list, so the keyboard never has to leave the box.
    edFind->installEventFilter(this);
    connect(edFind, &QLineEdit::returnPressed, this, &QDialog::accept);
}

void TfrmParentTask::find(const QString& text) {
    m_choices->find(text);
    // The first task found (else the top level) is chosen until another is.
    lstTasks->setCurrentIndex(
        m_choices->index(m_choices->rowCount() > 1 && !text.isEmpty() ? 1 : 0));
}

void TfrmParentTask::setTask(const DataTable& table, DataTable::RowId row) {
    edFind->clear();
    m_choices->setTask(table, row);
    find(QString());
    // The task it stands under now, if any, is where the choice starts.
    const DataTable::RowId parent = table.parentRowOf(row);
    for (int line = 1; parent >= 0 && line < m_choices->rowCount(); ++line)
        if (m_choices->rowAt(line) == parent) {
            lstTasks->setCurrentIndex(m_choices->index(line));
            break;
        }
}

bool TfrmParentTask::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edFind && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QCoreApplication::sendEvent(lstTasks, event);
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<DataTable::RowId> TfrmParentTask::chosen() const {
    const QModelIndex current = lstTasks->currentIndex();
    if (!current.isValid())
        return std::nullopt;
    return m_choices->rowAt(current.row());
}

std::optional<DataTable::RowId> TfrmParentTask::execute(const DataTable& table,
                                                        DataTable::RowId row) {
    setTask(table, row);
    edFind->setFocus();
    const bool accepted = exec() == QDialog::Accepted;
    const std::optional<DataTable::RowId> result = accepted ? chosen() : std::nullopt;
    m_choices->clear(); // holds nothing of the list once closed
    return result;
}

#pragma once

#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/TaskGrid.h"
#include "view/uFrTasks.h"

#include <QAbstractItemModelTester>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

// A task-list view on a tab page of its own, shown and active, as the main window hosts it,
// with scripted prompts, fake windows and a model tester watching its grid model.
struct ViewHost {
    ViewHost() {
        auto* page = new QWidget;
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new TfrTasks(page);
        layout->addWidget(view);
        tabs.addTab(page, QStringLiteral("New"));
        QObject::connect(view, &TfrTasks::captionChanged, &tabs,
                         [this](const QString& caption) { tabs.setTabText(0, caption); });
        view->SetCaption(QStringLiteral("New"));
        tabs.resize(1100, 420);
        tabs.show();
        if (!QTest::qWaitForWindowActive(&tabs))
            qFatal("the view's window never became active");
        view->InitList(QStringLiteral("New"), true);
        tester = std::make_unique<QAbstractItemModelTester>(
            grid()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    template <typename T> T* child(const QString& name) const {
        T* found = view->findChild<T*>(name);
        if (!found)
            qFatal("no child %s", qPrintable(name));
        return found;
    }
    TaskGrid* grid() const { return child<TaskGrid>(QStringLiteral("DBGrid1")); }
    DataTable& table() const { return *view->cdsTasks(); }

    // Adds tasks by quick add's own steps, without the bar.
    void add(const QStringList& tasks) {
        for (const QString& task : tasks) {
            table().append();
            table().setString(TaskRecord::Task, task);
            table().post();
        }
    }

    int column(const QString& field) const {
        for (int c = 0; c < grid()->model()->columnCount(); ++c)
            if (grid()->model()->headerData(c, Qt::Horizontal).toString() == field)
                return c;
        qFatal("no column %s", qPrintable(field));
    }
    QModelIndex cell(int row, const QString& title) const {
        return grid()->model()->index(row, column(title));
    }
    QPoint centre(const QModelIndex& index) const { return grid()->visualRect(index).center(); }
    void click(const QModelIndex& index) const {
        grid()->scrollTo(index);
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, centre(index));
    }
    // Gives the grid the focus with the given cell selected.
    TaskGrid* focusCell(int row, const QString& title) const {
        grid()->setFocus();
        click(cell(row, title));
        return grid();
    }
    QString currentTask() const { return table().asString(TaskRecord::Task); }
    QStringList shownTasks() const {
        QStringList tasks;
        const int c = column(QStringLiteral("Task"));
        for (int r = 0; r < grid()->model()->rowCount(); ++r)
            tasks << grid()->model()->index(r, c).data().toString();
        return tasks;
    }

    ScriptedPrompt prompt;
    QTabWidget tabs;
    TfrTasks* view = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

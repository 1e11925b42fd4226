#include "bench/WindowBench.h"

#include "bench/Timing.h"

#include "dialogs/uFrmBatchImport.h"
#include "model/DataTable.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "support/ScriptedPrompt.h"
#include "view/uFrTasks.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

using namespace Timing;

// Wall and processor time (every thread of the process) from start() until the grid has
// painted again.
struct Stopwatch {
    double wall = 0;
    double cpu = 0;
    void start() {
        wall = clockMs(CLOCK_MONOTONIC);
        cpu = clockMs(CLOCK_PROCESS_CPUTIME_ID);
    }
    void stop(const char* name, QWidget* painted) const {
        (void)painted->grab();
        std::printf("%s %.1f %.1f\n", name, clockMs(CLOCK_MONOTONIC) - wall,
                    clockMs(CLOCK_PROCESS_CPUTIME_ID) - cpu);
        std::fflush(stdout);
    }
};

void timed(const char* name, QWidget* painted, const std::function<void()>& action) {
    Stopwatch watch;
    watch.start();
    action();
    watch.stop(name, painted);
}

class Session {
public:
    // The program started and its main window painted once, as a user sees it before acting;
    // with files, as a start with those lists named on the command line.
    explicit Session(const QStringList& files = {})
        : m_main(StartCorvantis(m_folder.path() + u'/', files)) {
        m_main->resize(1400, 900);
        m_main->show();
        (void)m_main->grab();
        m_prompt.answers << true << true << true;
    }

    void trigger(const QString& name) { m_main->findChild<QAction*>(name)->trigger(); }
    TfrTasks* view() const { return m_main->ActiveTaskView(); }
    QWidget* grid() const { return view()->findChild<QTableView*>(QStringLiteral("DBGrid1")); }
    TfrmMain& main() { return *m_main; }

    void open(const QString& fileName) {
        m_prompt.openNames << fileName;
        trigger(QStringLiteral("actOpen"));
    }
    void openAndPaint(const QString& fileName) {
        open(fileName);
        (void)grid()->grab();
    }

    // "sorted": by Task, only the tasks not started; else the ID order Open shows.
    void showAs(const QString& how) {
        if (how != u"sorted")
            return;
        choose(QStringLiteral("cbOrder"), QStringLiteral("Task"));
        choose(QStringLiteral("cbShow"), QStringLiteral("Not Started"));
        (void)grid()->grab();
    }

    void choose(const QString& box, const QString& text) {
        auto* combo = view()->findChild<QComboBox*>(box);
        const int index = combo->findText(text);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    ScriptedPrompt& prompt() { return m_prompt; }

private:
    QTemporaryDir m_folder;
    ScriptedPrompt m_prompt;
    std::unique_ptr<TfrmMain> m_main;
};

QString batchLines(int count) {
    static const char* const words[] = {"review", "budget", "call", "the", "garden", "Müller",
                                        "send",   "notes",  "fix",  "bug", "plan",   "tea"};
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        QString line = QStringLiteral("Batch %1").arg(i);
        for (int w = 0; w < 4 + i % 5; ++w)
            line += u' ' + QString::fromUtf8(words[(i * 7 + w * 3) % 12]);
        lines << line;
    }
    return lines.join(u'\n');
}

} // namespace

int RunWindowCase(const QStringList& args) {
    // A user's locale, so text orders go through the collation; the clock is the real one.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString what = args.value(0);
    if (what == u"start") {
        // The parent times from starting this process to the line printed here; the processor
        // time is all this process took until then.
        const Session session(args.mid(1, 1));
        std::printf("painted %.3f %.1f\n", clockMs(CLOCK_MONOTONIC),
                    clockMs(CLOCK_PROCESS_CPUTIME_ID));
        return 0;
    }
    Session session;
    if (what == u"open") {
        Stopwatch watch;
        watch.start();
        session.open(args.value(1));
        watch.stop("open", session.grid());
    } else if (what == u"sort") {
        session.openAndPaint(args.value(1));
        const QString order = args.value(2, QStringLiteral("Task"));
        timed("sort", session.grid(), [&] { session.choose(QStringLiteral("cbOrder"), order); });
    } else if (what == u"show") {
        session.openAndPaint(args.value(1));
        timed("show", session.grid(),
              [&] { session.choose(QStringLiteral("cbShow"), args.value(2)); });
    } else if (what == u"import") {
        session.openAndPaint(args.value(1));
        session.showAs(args.value(3));
        session.prompt().openNames << args.value(2);
        timed("import", session.grid(), [&] { session.trigger(QStringLiteral("tbImport")); });
    } else if (what == u"batch") {
        session.openAndPaint(args.value(1));
        session.showAs(args.value(2));
        TfrmBatchImport* window = session.main().BatchImportWindow();
        const QString text = batchLines(args.value(3).toInt());
        // From Save until the grid has painted the added tasks.
        Stopwatch watch;
        QTimer::singleShot(0, window, [&] {
            window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->setPlainText(text);
            watch.start();
            window->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
        });
        session.trigger(QStringLiteral("ToolButton5"));
        watch.stop("batch", session.grid());
    } else if (what == u"history" || what == u"deleted") {
        // A history window on the list as loaded: its past versions not laid out yet. The task
        // History shows is the one in the middle of the list.
        session.openAndPaint(args.value(1));
        DataTable& table = *session.view()->cdsTasks();
        table.moveToPosition(table.visibleRowCount() / 2);
        const bool history = what == u"history";
        Stopwatch watch;
        QTimer::singleShot(0, &session.main(), [&] {
            QWidget* window = QApplication::activeModalWidget();
            if (!window)
                return;
            watch.stop(history ? "history" : "deleted", window);
            if (auto* dialog = qobject_cast<QDialog*>(window))
                dialog->reject();
        });
        watch.start();
        session.trigger(history ? QStringLiteral("actHistory") : QStringLiteral("actDeletedTasks"));
    } else if (what == u"fold") {
        session.openAndPaint(args.value(1));
        timed("Collapse All", session.grid(),
              [&] { session.trigger(QStringLiteral("CollapseAll1")); });
        timed("Expand All", session.grid(), [&] { session.trigger(QStringLiteral("ExpandAll1")); });
    } else if (what == u"save") {
        session.openAndPaint(args.value(1));
        timed("save", session.grid(), [&] { session.trigger(QStringLiteral("actSave")); });
    } else if (what == u"edits") {
        session.openAndPaint(args.value(1));
        TfrTasks* view = session.view();
        timed("quick add", session.grid(), [&] {
            view->findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(QStringLiteral("one"));
            view->btnQuickAddClick();
        });
        timed("edit", session.grid(), [&] { view->actCompleteExecute(); });
        timed("delete", session.grid(), [&] { view->actDeleteExecute(); });
    } else {
        std::fprintf(stderr, "unknown window case %s\n", qPrintable(what));
        return 1;
    }
    return 0;
}

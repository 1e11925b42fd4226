#include "base/LoginName.h"
#include "dialogs/ufrmReOpen.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/RecentLists.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

// A new user's first minutes, through the real windows with mouse and keyboard: a new list,
// five tasks, two of them moved on, a preset and an order, saved, closed, and opened again from
// the command line.
class TestFirstSession : public QObject {
    Q_OBJECT
private slots:
    void firstMinutes();

private:
    template <typename T> T* child(const QString& name) const {
        T* found = m_main->findChild<T*>(name);
        if (!found)
            qFatal("no %s", qPrintable(name));
        return found;
    }
    void click(const QString& button) const {
        QTest::mouseClick(child<QToolButton>(button), Qt::LeftButton);
    }
    // Picks a drop-down item the keyboard way, with the arrow keys.
    void pick(const QString& box, const QString& item) const {
        auto* combo = child<QComboBox>(box);
        const int target = combo->findText(item);
        for (int step = 0; step < combo->count() && combo->currentIndex() != target; ++step)
            QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(combo->currentText(), item);
    }
    QTableView* grid() const { return child<QTableView>(QStringLiteral("DBGrid1")); }
    int column(const QString& title) const;
    // What the grid shows: one "task|status|priority" line per row, top to bottom.
    QStringList shown() const;
    void clickTask(const QString& task) const;

    std::unique_ptr<TfrmMain> m_main;
};

int TestFirstSession::column(const QString& title) const {
    for (int c = 0; c < grid()->model()->columnCount(); ++c)
        if (grid()->model()->headerData(c, Qt::Horizontal).toString() == title)
            return c;
    qFatal("no column %s", qPrintable(title));
}

QStringList TestFirstSession::shown() const {
    QStringList rows;
    const QAbstractItemModel* model = grid()->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (const char* title : {"Task", "Status", "Priority"})
            cells << model->index(r, column(QString::fromLatin1(title))).data().toString();
        rows << cells.join(u'|');
    }
    return rows;
}

void TestFirstSession::clickTask(const QString& task) const {
    const QModelIndexList found = grid()->model()->match(
        grid()->model()->index(0, column(QStringLiteral("Task"))), Qt::DisplayRole, task);
    QCOMPARE(found.size(), 1);
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {},
                      grid()->visualRect(found.first()).center());
}

void TestFirstSession::firstMinutes() {
    PinLocaleAndClock();
    uGeneral::SetCurrentUserNameForTesting([] { return QStringLiteral("ada"); });
    QTemporaryDir folder;
    ScriptedPrompt prompt;
    m_main = StartCorvantis(folder.path());
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));

    click(QStringLiteral("tbNew"));
    auto* edit = child<QLineEdit>(QStringLiteral("Edit2"));
    struct QuickAdd {
        const char* task;
        const char* priority;
        const char* difficulty;
    };
    for (const QuickAdd& add :
         {QuickAdd{"Renew the passport", "High", "Hard"}, QuickAdd{"Buy bread", "Low", "Easy"},
          QuickAdd{"Call the plumber", "Normal", "Moderate"},
          QuickAdd{"Water the plants", "Low", "Easy"},
          QuickAdd{"File the tax return", "High", "Moderate"}}) {
        QTest::keyClicks(edit, QString::fromLatin1(add.task));
        pick(QStringLiteral("cbPriority"), QString::fromLatin1(add.priority));
        pick(QStringLiteral("cbDifficulty"), QString::fromLatin1(add.difficulty));
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(edit->text().isEmpty());
    }
    QCOMPARE(grid()->model()->rowCount(), 5);

    clickTask(QStringLiteral("File the tax return"));
    click(QStringLiteral("tbStartTask"));
    clickTask(QStringLiteral("Buy bread"));
    click(QStringLiteral("tbCompleteTask"));

    pick(QStringLiteral("cbShow"), QStringLiteral("In progress"));
    QCOMPARE(shown(), QStringList{"File the tax return|In progress|High"});
    pick(QStringLiteral("cbOrder"), QStringLiteral("Priority"));
    QCOMPARE(shown(), QStringList{"File the tax return|In progress|High"});

    const QString fileName = folder.filePath(QStringLiteral("First steps.cv1"));
    prompt.saveNames << fileName;
    click(QStringLiteral("tbSaveAs"));
    QTabWidget* tabs = m_main->PageControl();
    QCOMPARE(tabs->tabText(0), QStringLiteral("First steps"));
    click(QStringLiteral("tbClose"));
    QCOMPARE(tabs->count(), 0);
    QVERIFY(prompt.questions.isEmpty()); // a saved list closes without a question
    QVERIFY(m_main->close());
    m_main.reset();

    // The file holds the five tasks with their whole history, byte for byte.
    QCOMPARE(ReadFileBytes(fileName),
             ReadFileBytes(QStringLiteral(CORVANTIS_TEST_DATA "/firstsession/First steps.cv1")));

    // The next start, given the file on its command line, shows it all, in ID order.
    m_main = StartCorvantis(folder.path(),
                            ReadCommandLine({QStringLiteral("Corvantis"), fileName}).files);
    tabs = m_main->PageControl();
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->tabText(0), QStringLiteral("First steps"));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - First steps"));
    QVERIFY(m_main->ReOpenWindow()->store().contains(fileName));
    QCOMPARE(child<QComboBox>(QStringLiteral("cbShow"))->currentText(), QStringLiteral("All"));
    QCOMPARE(child<QComboBox>(QStringLiteral("cbOrder"))->currentText(), QStringLiteral("ID"));
    QCOMPARE(shown(),
             QStringList({"Renew the passport|Not Started|High", "Buy bread|Complete|Low",
                          "Call the plumber|Not Started|Normal", "Water the plants|Not Started|Low",
                          "File the tax return|In progress|High"}));
    QCOMPARE(m_main->ActiveTaskView()->StatusPanelText(0), QStringLiteral("Items 5"));
    QVERIFY(prompt.errors.isEmpty());
    m_main.reset();
}

QTEST_MAIN(TestFirstSession)
#include "tst_firstsession.moc"

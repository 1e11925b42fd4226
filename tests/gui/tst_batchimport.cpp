#include "core/TaskListFixture.h"
#include "dialogs/uFrmBatchImport.h"
#include "storage/DataPacket.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

using namespace TaskRecord;

namespace {

QPlainTextEdit* memo(QWidget& window) {
    return window.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
}

QPushButton* button(QWidget& window, const char* name) {
    return window.findChild<QPushButton*>(QLatin1String(name));
}

// Types lines into the box as a person does, with Enter between them.
void TypeLines(QPlainTextEdit* box, const QStringList& lines) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClicks(box, lines[i]);
    }
}

// Ends the modal window the way a data row names.
void CloseBy(QDialog& window, const QString& how) {
    if (how == u"Save")
        QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
    else if (how == u"Cancel")
        QTest::mouseClick(button(window, "btnCancel"), Qt::LeftButton);
    else if (how == u"Escape")
        QTest::keyClick(memo(window), Qt::Key_Escape);
    else
        window.close();
}

// Runs the window modally on target; while it is open, does what drive says.
bool RunWindow(TfrmBatchImport& window, DataTable& target,
               const std::function<void(TfrmBatchImport&)>& drive) {
    bool driven = false;
    QTimer::singleShot(0, &window, [&] {
        QCOMPARE(QApplication::activeModalWidget(), &window);
        drive(window);
        driven = true;
        if (window.isVisible()) // a failed check must not leave the window open
            window.reject();
    });
    const bool inserted = window.execute(target);
    if (!driven)
        qWarning("the window was not driven");
    return inserted;
}

} // namespace

class TestBatchImport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void layout();
    void closing_data();
    void closing();
    void textKeptUntilInserted();
    void failureKeepsText();
};

void TestBatchImport::layout() {
    QWidget owner;
    TfrmBatchImport window(&owner);
    QCOMPARE(window.windowTitle(), QStringLiteral("Batch Import"));
    QCOMPARE(window.size(), QSize(757, 481));
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Paste a list of tasks. One task per line."));
    QCOMPARE(memo(window)->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(memo(window)->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(memo(window)->toPlainText(), QString());
    QCOMPARE(memo(window)->blockCount(), 1); // one empty line
    QCOMPARE(button(window, "btnSave")->text(), QStringLiteral("Save"));
    QCOMPARE(button(window, "btnCancel")->text(), QStringLiteral("Cancel"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The box fills the window between the two bands.
    QVERIFY(memo(window)->height() > 481 - 2 * 41 - 4);
    QCOMPARE(memo(window)->width(), 757);
    QVERIFY(window.grab().save(QDir::temp().filePath(QStringLiteral("corvantis-batchimport.png"))));
}

void TestBatchImport::closing_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("inserted");
    QTest::newRow("Save") << "Save" << true;
    QTest::newRow("Cancel") << "Cancel" << false;
    QTest::newRow("Escape") << "Escape" << false;
    QTest::newRow("window closed") << "close" << false;
}

void TestBatchImport::closing() {
    QFETCH(QString, how);
    QFETCH(bool, inserted);
    TaskListFixture list;
    list.add(QStringLiteral("Task=existing"));
    QWidget owner;
    TfrmBatchImport window(&owner);

    const bool result = RunWindow(window, list.table, [&](TfrmBatchImport& shown) {
        TypeLines(memo(shown), {"Buy milk", "", "  Call Sam"});
        QVERIFY(shown.isVisible()); // Enter starts a line; it does not close the window
        CloseBy(shown, how);
    });

    QCOMPARE(result, inserted);
    // The indented line goes under the line above it, without its indent.
    const QStringList expected =
        inserted ? QStringList{"existing", "Buy milk", "Call Sam"} : QStringList{"existing"};
    QCOMPARE(list.visible(), expected);
    QCOMPARE(window.text(), inserted ? QString() : QStringLiteral("Buy milk\n\n  Call Sam"));
    if (inserted) {
        QCOMPARE(list.table.asInteger(ID), 3); // the last added task is current
        QCOMPARE(list.table.asString(Status), NotStarted);
    }
}

void TestBatchImport::textKeptUntilInserted() {
    TaskListFixture list;
    QWidget owner;
    TfrmBatchImport window(&owner);
    RunWindow(window, list.table, [](TfrmBatchImport& shown) {
        TypeLines(memo(shown), {"one", "two"});
        CloseBy(shown, QStringLiteral("Cancel"));
    });
    QString seen;
    RunWindow(window, list.table, [&](TfrmBatchImport& shown) {
        seen = memo(shown)->toPlainText();
        TypeLines(memo(shown), {"", "three"});
        CloseBy(shown, QStringLiteral("Save"));
    });
    QCOMPARE(seen, QStringLiteral("one\ntwo"));
    QCOMPARE(list.visible(), (QStringList{"one", "two", "three"}));
    RunWindow(window, list.table, [&](TfrmBatchImport& shown) {
        seen = memo(shown)->toPlainText();
        CloseBy(shown, QStringLiteral("Save"));
    });
    QCOMPARE(seen, QString());
    QCOMPARE(list.table.recordCount(), 3);
}

void TestBatchImport::failureKeepsText() {
    // A list whose counter has one ID left: storing the second line fails.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("lagging.cv1"));
    {
        TaskListFixture saved;
        for (const char* task : {"Task=t1", "Task=t2", "Task=t3"})
            saved.add(QLatin1String(task));
        DataPacket::SaveToFile(saved.table, file);
    }
    QByteArray bytes = ReadFileBytes(file);
    bytes.replace("AUTOINCVALUE=\"4\"", "AUTOINCVALUE=\"2147483647\"");
    QVERIFY(WriteFileBytes(file, bytes));
    TaskListFixture list;
    DataPacket::LoadFromFile(list.table, file);

    QWidget owner;
    TfrmBatchImport window(&owner);
    const QString error = errorOf([&] {
        RunWindow(window, list.table, [](TfrmBatchImport& shown) {
            TypeLines(memo(shown), {"a", "b"});
            CloseBy(shown, QStringLiteral("Save"));
        });
    });
    QCOMPARE(error, QStringLiteral("cdsTasks: The ID counter is exhausted"));
    QCOMPARE(window.text(), QStringLiteral("a\nb"));
    QCOMPARE(list.table.state(), DataTable::State::Insert);
    QCOMPARE(list.table.asString(Task), QStringLiteral("b"));
    list.table.cancel();
    QCOMPARE(list.visible(), (QStringList{"t1", "t2", "t3", "a"}));
}

QTEST_MAIN(TestBatchImport)
#include "tst_batchimport.moc"

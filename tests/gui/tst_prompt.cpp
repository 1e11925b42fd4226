#include "base/CorvantisError.h"
#include "support/ScriptedPrompt.h"
#include "widgets/ErrorBox.h"
#include "widgets/Prompt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

class TestPrompt : public QObject {
    Q_OBJECT
private slots:
    void fullStop_data();
    void fullStop();
    void guardedShowsErrors();
    void realErrorBox();
    void realQuestionButtons_data();
    void realQuestionButtons();
    void enterAnswers_data();
    void enterAnswers();
    void nameFilter();
};

void TestPrompt::fullStop_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("exclamation kept") << "Open or create a list first!"
                                      << "Open or create a list first!";
    QTest::newRow("letter gets a stop") << "Key violation"
                                        << "Key violation.";
    QTest::newRow("stop kept") << "Mismatch in datapacket."
                               << "Mismatch in datapacket.";
    QTest::newRow("quote sorts before") << "Cannot open file \"x\""
                                        << "Cannot open file \"x\"";
    QTest::newRow("digit sorts after") << "Code 5"
                                       << "Code 5.";
    QTest::newRow("empty") << ""
                           << "";
}

void TestPrompt::fullStop() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(Prompt::WithFullStop(message), shown);
}

void TestPrompt::guardedShowsErrors() {
    ScriptedPrompt prompt;
    QVERIFY(
        !RunGuarded([] { throw CorvantisError(QStringLiteral("cdsTasks: Field 'X' not found")); }));
    QVERIFY(RunGuarded([] {}));
    QCOMPARE(prompt.errors, QStringList{"cdsTasks: Field 'X' not found."});
}

// The production backend shows a critical box titled with the application's title.
void TestPrompt::realErrorBox() {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    Prompt::Error(QStringLiteral("Something failed"));
    QCOMPARE(title, Prompt::AppTitle());
    QCOMPARE(title, QStringLiteral("tst_prompt"));
    QCOMPARE(text, QStringLiteral("Something failed."));
    QCOMPARE(icon, QMessageBox::Critical);
}

void TestPrompt::realQuestionButtons_data() {
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("buttons");
    QTest::newRow("question") << false << int(QMessageBox::Yes | QMessageBox::No);
    QTest::newRow("confirmation") << true << int(QMessageBox::Ok | QMessageBox::Cancel);
}

void TestPrompt::realQuestionButtons() {
    QFETCH(bool, confirm);
    QFETCH(int, buttons);
    int shown = 0;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        shown = int(box->standardButtons());
        icon = box->icon();
        box->button(box->standardButtons() & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok)
            ->click();
    });
    const QString text = QStringLiteral("Delete record?");
    QVERIFY(confirm ? Prompt::Confirm(text) : Prompt::Question(text));
    QCOMPARE(shown, buttons);
    QCOMPARE(icon, QMessageBox::NoIcon);
}

void TestPrompt::enterAnswers_data() {
    QTest::addColumn<bool>("risky");
    QTest::newRow("question: Yes") << false;
    QTest::newRow("a question whose Yes runs a program: No") << true;
}

void TestPrompt::enterAnswers() {
    QFETCH(bool, risky);
    QTimer::singleShot(0, [] {
        QWidget* box = QApplication::activeModalWidget();
        QVERIFY(box);
        QTest::keyClick(box, Qt::Key_Return);
    });
    const QString text = QStringLiteral("/tmp/tool.py runs a program. Open it anyway?");
    QCOMPARE(risky ? Prompt::RiskyQuestion(text) : Prompt::Question(text), !risky);
}

void TestPrompt::nameFilter() {
    QCOMPARE(Prompt::QtNameFilter(QStringLiteral("Corvantis File v1|*.cv1|All Files (*.*)|*.*")),
             QStringLiteral("Corvantis File v1 (*.cv1);;All Files (*.*) (*)"));
}

QTEST_MAIN(TestPrompt)
#include "tst_prompt.moc"

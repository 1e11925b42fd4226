#include "dialogs/uFrmCategories.h"
#include "storage/CategoryList.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QPlainTextEdit* cats(TfrmCategories& window) {
    return window.findChild<QPlainTextEdit*>(QStringLiteral("mCats"));
}

QPushButton* button(TfrmCategories& window, const char* name) {
    return window.findChild<QPushButton*>(QLatin1String(name));
}

QColor background(TfrmCategories& window) {
    return cats(window)->palette().color(QPalette::Base);
}

CategoryList* loadedList(const QString& folder) {
    auto* list = new CategoryList(folder);
    list->load();
    return list;
}

// The window on a category list loaded from a program folder, as start-up makes them; the list
// goes with the window.
struct CategoriesWindow : TfrmCategories {
    explicit CategoriesWindow(const QString& folder, QWidget* parent = nullptr)
        : CategoriesWindow(loadedList(folder), parent) {}
    CategoriesWindow(CategoryList* list, QWidget* parent)
        : TfrmCategories(*list, parent), categories(*list) {
        list->setParent(this);
    }
    CategoryList& categories;
};

// A program folder whose settings file holds the given bytes (none: no file), with the window
// made on it and shown; prompts are scripted.
struct Shown {
    explicit Shown(const QByteArray& settings = QByteArray()) {
        if (!settings.isEmpty() && !WriteFileBytes(ini(), settings))
            qFatal("cannot write the settings file");
        window = std::make_unique<CategoriesWindow>(dir.path());
        window->show();
    }
    QString ini() const { return dir.filePath(QStringLiteral("Corvantis.ini")); }
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    std::unique_ptr<CategoriesWindow> window;
};

} // namespace

class TestCategories : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void layout();
    void startUp_data();
    void startUp();
    void lines_data();
    void lines();
    void updateThenSave();
    void saveWithoutUpdate();
    void typingEnablesSave();
    void closeKeepsEdits();
    void blankLinesDoNotLoseCategories();
    void showsChangeMadeElsewhere();
    void writeFailure();
    void modalFlow();
};

void TestCategories::layout() {
    QTemporaryDir dir;
    QVERIFY(WriteFileBytes(dir.filePath(QStringLiteral("Corvantis.ini")),
                           "[Category]\nLine0=Work\nLine1=Home\nLine2=Garden\n"));
    CategoriesWindow window(dir.path());
    QCOMPARE(window.windowTitle(), QStringLiteral("Categories"));
    QCOMPARE(window.size(), QSize(306, 528));
    QVERIFY(cats(window));
    QCOMPARE(cats(window)->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(cats(window)->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(button(window, "btnUpdate")->text(), QStringLiteral("Update"));
    QCOMPARE(button(window, "btnSave")->text(), QStringLiteral("Save"));
    QCOMPARE(button(window, "btnClose")->text(), QStringLiteral("Close"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Left to right: Update, Save, Close.
    QVERIFY(button(window, "btnUpdate")->x() < button(window, "btnSave")->x());
    QVERIFY(button(window, "btnSave")->x() < button(window, "btnClose")->x());
    QVERIFY(window.grab().save(QDir::temp().filePath(QStringLiteral("corvantis-categories.png"))));
}

void TestCategories::startUp_data() {
    QTest::addColumn<QByteArray>("file"); // "<none>": no settings file
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("no file, empty list") << QByteArray("<none>") << QStringList{};
    QTest::newRow("sorted, case ignored")
        << QByteArray("[Category]\r\nLine0=work\r\nLine1=Home\r\nLine2=errands\r\n")
        << QStringList{"errands", "Home", "work"};
}

void TestCategories::startUp() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    if (file != "<none>")
        QVERIFY(WriteFileBytes(dir.filePath(QStringLiteral("Corvantis.ini")), file));
    ScriptedPrompt prompt;
    CategoriesWindow window(dir.path());
    QCOMPARE(window.categories.lines(), lines);
    QCOMPARE(window.AppFolder(), dir.path() + u'/');
    QVERIFY(cats(window)->isReadOnly());
    QVERIFY(background(window) != QColor(Qt::white));
    // Filling the box counts as a change: Save starts enabled.
    QVERIFY(button(window, "btnSave")->isEnabled());
    QVERIFY(prompt.errors.isEmpty() && prompt.notices.isEmpty());
    if (file == "<none>")
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Corvantis.ini"))));
}

void TestCategories::lines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("final line break ends the last line") << "a\nb\n" << QStringList{"a", "b"};
    QTest::newRow("blank line inside kept") << "a\n\nb" << QStringList{"a", "", "b"};
    QTest::newRow("only a line break") << "\n" << QStringList{""};
}

void TestCategories::lines() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    CategoriesWindow window(dir.path());
    cats(window)->setPlainText(text);
    QCOMPARE(window.categories.lines(), lines);
}

void TestCategories::updateThenSave() {
    Shown f("[Window]\r\nTop=1\r\n\r\n[Category]\r\nLine0=Old\r\n");
    CategoriesWindow& window = *f.window;
    QTest::mouseClick(button(window, "btnUpdate"), Qt::LeftButton);
    QVERIFY(!cats(window)->isReadOnly());
    QCOMPARE(background(window), QColor(Qt::white));
    QVERIFY(button(window, "btnSave")->isEnabled());

    cats(window)->setFocus();
    cats(window)->moveCursor(QTextCursor::End);
    QTest::keyClick(cats(window), Qt::Key_Return);
    QTest::keyClicks(cats(window), QStringLiteral("Garden"));
    QCOMPARE(window.categories.lines(), (QStringList{"Old", "Garden"}));

    QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
    QCOMPARE(f.prompt.notices, QStringList{"Categories saved."});
    QVERIFY(f.prompt.errors.isEmpty());
    QCOMPARE(ReadFileBytes(f.ini()),
             QByteArray("[Window]\r\nTop=1\r\n\r\n[Category]\r\nLine0=Old\r\n"
                        "Line1=Garden\r\n"));
    QVERIFY(cats(window)->isReadOnly());
    QVERIFY(background(window) != QColor(Qt::white));
    QVERIFY(!button(window, "btnSave")->isEnabled());
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), int(QDialog::Accepted));
    // The user's order stays until the next start; then the list comes back sorted.
    QCOMPARE(window.categories.lines(), (QStringList{"Old", "Garden"}));
    CategoriesWindow next(f.dir.path());
    QCOMPARE(next.categories.lines(), (QStringList{"Garden", "Old"}));
}

void TestCategories::saveWithoutUpdate() {
    Shown f("[Category]\nLine0=Work\nLine1=Home\n");
    CategoriesWindow& window = *f.window;
    QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
    QCOMPARE(f.prompt.notices, QStringList{"Categories saved."});
    // Written in the order shown: sorted at start-up.
    QCOMPARE(ReadFileBytes(f.ini()), QByteArray("[Category]\nLine0=Home\nLine1=Work\n"));
}

void TestCategories::typingEnablesSave() {
    Shown f;
    CategoriesWindow& window = *f.window;
    QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
    QVERIFY(!button(window, "btnSave")->isEnabled());
    window.show();
    // Read-only: typing changes nothing, Save stays disabled.
    QTest::keyClicks(cats(window), QStringLiteral("x"));
    QVERIFY(!button(window, "btnSave")->isEnabled());
    QCOMPARE(window.categories.lines(), QStringList{});
    QTest::mouseClick(button(window, "btnUpdate"), Qt::LeftButton);
    QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
    window.show();
    QVERIFY(!button(window, "btnSave")->isEnabled());
    // Any change of the text enables Save.
    cats(window)->setPlainText(QStringLiteral("Home"));
    QVERIFY(button(window, "btnSave")->isEnabled());
}

void TestCategories::closeKeepsEdits() {
    Shown f("[Category]\nLine0=Home\n");
    CategoriesWindow& window = *f.window;
    QTest::mouseClick(button(window, "btnUpdate"), Qt::LeftButton);
    cats(window)->setPlainText(QStringLiteral("Home\nShopping"));
    QTest::mouseClick(button(window, "btnClose"), Qt::LeftButton);
    QCOMPARE(window.result(), int(QDialog::Rejected));
    QVERIFY(!window.isVisible());
    // In force for the rest of the run, shown again at the next opening, not written.
    QCOMPARE(window.categories.lines(), (QStringList{"Home", "Shopping"}));
    window.show();
    QCOMPARE(cats(window)->toPlainText(), QStringLiteral("Home\nShopping"));
    QCOMPARE(ReadFileBytes(f.ini()), QByteArray("[Category]\nLine0=Home\n"));
    QVERIFY(f.prompt.notices.isEmpty());
    // After the program ends the saved list comes back.
    CategoriesWindow next(f.dir.path());
    QCOMPARE(next.categories.lines(), QStringList{"Home"});
}

void TestCategories::blankLinesDoNotLoseCategories() {
    Shown f;
    CategoriesWindow& window = *f.window;
    QTest::mouseClick(button(window, "btnUpdate"), Qt::LeftButton);
    cats(window)->setPlainText(QStringLiteral("Home\n\n   \nWork\nGarden\n\n"));
    QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
    QCOMPARE(ReadFileBytes(f.ini()),
             QByteArray("[Category]\nLine0=Home\nLine1=Work\nLine2=Garden\n"));
    CategoriesWindow next(f.dir.path());
    QCOMPARE(next.categories.lines(), (QStringList{"Garden", "Home", "Work"}));
}

void TestCategories::showsChangeMadeElsewhere() {
    Shown f("[Category]\nLine0=Work\n");
    CategoriesWindow& window = *f.window;
    window.categories.setLines({QStringLiteral("Home"), QStringLiteral("Garden")});
    QCOMPARE(cats(window)->toPlainText(), QStringLiteral("Home\nGarden"));
    QCOMPARE(window.categories.lines(), (QStringList{"Home", "Garden"}));
}

void TestCategories::writeFailure() {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("gone"));
    ScriptedPrompt prompt;
    CategoriesWindow window(folder);
    window.show();
    QTest::mouseClick(button(window, "btnUpdate"), Qt::LeftButton);
    cats(window)->setPlainText(QStringLiteral("Home"));
    QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
    QCOMPARE(prompt.errors, QStringList{QStringLiteral("Unable to write to ") + folder +
                                        QStringLiteral("/Corvantis.ini.")});
    QVERIFY(prompt.notices.isEmpty());
    QVERIFY(!button(window, "btnSave")->isEnabled());
    QVERIFY(cats(window)->isReadOnly());
    QVERIFY(!window.isVisible());
    QCOMPARE(window.categories.lines(), QStringList{"Home"});
}

// Shown the way the main window shows it: modally, closed by the user.
void TestCategories::modalFlow() {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    QWidget owner;
    owner.resize(800, 600);
    owner.show();
    CategoriesWindow window(dir.path(), &owner);
    bool driven = false;
    QTimer::singleShot(0, &window, [&] {
        QCOMPARE(QApplication::activeModalWidget(), &window);
        QTest::mouseClick(button(window, "btnUpdate"), Qt::LeftButton);
        cats(window)->setPlainText(QStringLiteral("Errands"));
        QTest::mouseClick(button(window, "btnSave"), Qt::LeftButton);
        driven = true;
    });
    QCOMPARE(window.exec(), int(QDialog::Accepted));
    QVERIFY(driven);
    QCOMPARE(prompt.notices, QStringList{"Categories saved."});
    QCOMPARE(window.categories.lines(), QStringList{"Errands"});
}

QTEST_MAIN(TestCategories)
#include "tst_categories.moc"

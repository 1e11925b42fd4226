#include "core/TaskListFixture.h"
#include "report/uQRptTasks.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

using namespace TaskRecord;
using Layout = TQRptTasks::PageLayout;

namespace {

constexpr int DotsPerMm = 10;

// A list of count tasks "Task 1" ... with the given values added to each.
void AddTasks(TaskListFixture& list, int count, const QString& values = QString()) {
    for (int i = 1; i <= count; ++i)
        list.add(QStringLiteral("Task=Task %1|").arg(i) + values);
}

// Pages in a PDF file: page objects, not the page tree.
int PdfPageCount(const QString& fileName) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    const QString text = QString::fromLatin1(ReadFileBytes(fileName));
    int count = 0;
    for (auto it = page.globalMatch(text); it.hasNext(); it.next())
        ++count;
    return count;
}

int RenderPdf(const TQRptTasks& report, const QString& fileName) {
    QPdfWriter writer(fileName);
    writer.setResolution(300);
    TQRptTasks::setUpPage(writer);
    report.render(writer);
    return PdfPageCount(fileName);
}

// The texts of a page printed at the given left edge (millimetres from the paper's corner).
QStringList TextsAt(const Layout& layout, double left) {
    QStringList texts;
    for (const auto& element : layout.texts)
        if (qFuzzyCompare(element.left, left))
            texts << element.text;
    return texts;
}

const TQRptTasks::TextElement* Find(const Layout& layout, const QString& text) {
    for (const auto& element : layout.texts)
        if (element.text == text)
            return &element;
    return nullptr;
}

QImage RenderImage(const TQRptTasks& report, int page) {
    QImage image(297 * DotsPerMm, 210 * DotsPerMm, QImage::Format_RGB32);
    image.setDotsPerMeterX(DotsPerMm * 1000);
    image.setDotsPerMeterY(DotsPerMm * 1000);
    image.fill(Qt::white);
    QPainter painter(&image);
    report.paintPage(painter, page);
    return image;
}

// Whether any pixel in the rectangle (millimetres) is not white.
bool Inked(const QImage& image, double left, double top, double width, double height) {
    for (int y = int(top * DotsPerMm); y < int((top + height) * DotsPerMm); ++y)
        for (int x = int(left * DotsPerMm); x < int((left + width) * DotsPerMm); ++x)
            if (qGray(image.pixel(x, y)) < 200)
                return true;
    return false;
}

// Runs Print with the preview replaced by check.
void PrintWith(TQRptTasks& report, DataTable& table, const QString& caption,
               const std::function<void(QPrintPreviewDialog&)>& check) {
    bool ran = false;
    TQRptTasks::setPreviewRunnerForTesting([&](QPrintPreviewDialog& dialog) {
        check(dialog);
        ran = true;
    });
    report.print(table, caption, nullptr);
    TQRptTasks::setPreviewRunnerForTesting(nullptr);
    QVERIFY(ran);
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void cleanup() { TQRptTasks::setPreviewRunnerForTesting(nullptr); }

    void pages_data();
    void pages();
    void pageDesign();
    void printedRows_data();
    void printedRows();
    void firstLine_data();
    void firstLine();
    void renderedPage();
    void preview();
    void previewOpensWithoutPrinter();
};

void TestReport::pages_data() {
    QTest::addColumn<int>("tasks");
    QTest::addColumn<QList<int>>("rowsPerPage");
    QTest::newRow("none: title only") << 0 << QList<int>{0};
    QTest::newRow("1") << 1 << QList<int>{1};
    QTest::newRow("41 fill the first page") << 41 << QList<int>{41};
    QTest::newRow("42") << 42 << QList<int>{41, 1};
    QTest::newRow("50") << 50 << QList<int>{41, 9};
    QTest::newRow("85 fill two pages") << 85 << QList<int>{41, 44};
    QTest::newRow("86") << 86 << QList<int>{41, 44, 1};
}

void TestReport::pages() {
    QFETCH(int, tasks);
    QFETCH(QList<int>, rowsPerPage);
    TaskListFixture list;
    AddTasks(list, tasks);
    TQRptTasks report;
    report.setTitle(QStringLiteral("Home"));
    report.fill(list.table);

    QCOMPARE(report.pageCount(), int(rowsPerPage.size()));
    QList<int> rows;
    int next = 0;
    for (int page = 0; page < report.pageCount(); ++page) {
        const Layout layout = report.layoutPage(page);
        QCOMPARE(layout.firstRow, next);
        next += layout.rowCount;
        rows << layout.rowCount;
        // The title band opens the first page only.
        QCOMPARE(layout.hasRule, page == 0);
        QCOMPARE(Find(layout, QStringLiteral("Last Actioned")) != nullptr, page == 0);
        // Detail bands follow each other down to the bottom margin.
        const QStringList ids = TextsAt(layout, 5 + 2.1);
        QCOMPARE(int(ids.size()), layout.rowCount);
        if (!ids.isEmpty())
            QCOMPARE(ids.first(), QString::number(layout.firstRow + 1));
    }
    QCOMPARE(rows, rowsPerPage);
    QTemporaryDir dir;
    QCOMPARE(RenderPdf(report, dir.filePath(QStringLiteral("tasks.pdf"))), int(rowsPerPage.size()));
}

void TestReport::pageDesign() {
    TaskListFixture list;
    list.add(QStringLiteral("Task=Paint fence|Status=In progress|Difficulty=Hard|Priority=High|"
                            "Progress=40|Category=Home|CreatedDate=2025-03-01|"
                            "LastActioned=2025-03-02|CompletedDate=2025-03-03|"
                            "StartDate=2025-03-04|DueDate=2025-03-05|Comments=Blue|"
                            "Details=not printed|Owner=Sam|Bookmarked=True"));
    AddTasks(list, 49);
    TQRptTasks report;
    report.setTitle(QStringLiteral("Home *"));
    report.fill(list.table);
    const Layout first = report.layoutPage(0);

    const auto* title = Find(first, QStringLiteral("Home *"));
    QVERIFY(title);
    QCOMPARE(title->left, 5.0);
    QCOMPARE(title->top, 5.0);
    QCOMPARE(first.rule, QLineF(5, 14.8, 293.1, 14.8));

    // Each field stands under its own heading (ID 0.2 mm further right), in the first band
    // below the title band.
    const std::pair<const char*, const char*> columns[] = {
        {"ID", "1"},
        {"Task", "Paint fence"},
        {"Status", "In progress"},
        {"Difficulty", "Hard"},
        {"Priority", "High"},
        {"%", "40"},
        {"Category", "Home"},
        {"Date Created", "3/1/2025"},
        {"Last Actioned", "3/2/2025"},
        {"Completed Date", "3/3/2025"},
        {"Start Date", "3/4/2025"},
        {"Due Date", "3/5/2025"},
        {"Comments", "Blue"},
    };
    for (const auto& [headingText, valueText] : columns) {
        const auto* heading = Find(first, QLatin1String(headingText));
        const auto* value = Find(first, QLatin1String(valueText));
        QVERIFY2(heading && value, headingText);
        QCOMPARE(value->left - heading->left, heading->text == u"ID" ? 0.2 : 0.0);
        QCOMPARE(value->top, 5 + 11.4);
    }
    // Title, 13 headings, 13 fields of the first task and, for each of the others, the five
    // that are not empty: ID, Task and the new-row defaults Status, % and Date Created.
    QCOMPARE(first.texts.size(), std::size_t(1 + 13 + 13 + 5 * 40));
    QVERIFY(!Find(first, QStringLiteral("not printed")));
    QVERIFY(!Find(first, QStringLiteral("Yes")));

    const Layout second = report.layoutPage(1);
    QCOMPARE(second.texts.size(), std::size_t(5 * 9));
    QCOMPARE(second.texts.front().text, QStringLiteral("42"));
    QCOMPARE(second.texts.front().top, 5.0);
    QCOMPARE(second.texts.back().top, 5 + 8 * 4.5);
}

void TestReport::printedRows_data() {
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("filter"); // empty: not filtered
    QTest::addColumn<QStringList>("printed");
    QTest::newRow("ID order") << TaskTable::IndexID << QString()
                              << QStringList{"old", "new", "middle", "never"};
    QTest::newRow("last action first") << TaskTable::IndexLastActioned << QString()
                                       << QStringList{"new", "middle", "old", "never"};
    QTest::newRow("filtered") << TaskTable::IndexID << QStringLiteral("Category = 'Work'")
                              << QStringList{"old", "middle"};
    QTest::newRow("filter shows none")
        << TaskTable::IndexID << QStringLiteral("Category = 'x'") << QStringList{};
}

void TestReport::printedRows() {
    QFETCH(QString, index);
    QFETCH(QString, filter);
    QFETCH(QStringList, printed);
    TaskListFixture list;
    list.add(QStringLiteral("Task=old|LastActioned=2025-01-01|Category=Work"));
    list.add(QStringLiteral("Task=new|LastActioned=2025-03-01"));
    list.add(QStringLiteral("Task=middle|LastActioned=2025-02-01|Category=Work"));
    list.add(QStringLiteral("Task=never"));
    list.table.setIndexName(index);
    if (!filter.isEmpty()) {
        list.table.setFilter(filter);
        list.table.setFiltered(true);
    }
    list.table.first();
    const int marks = list.hookMarks;
    TQRptTasks report;
    PrintWith(report, list.table, QStringLiteral("Home"), [](QPrintPreviewDialog&) {});

    QCOMPARE(TextsAt(report.layoutPage(0), 5 + 8.5), QStringList{"Task"} + printed);
    QCOMPARE(report.pageCount(), 1);
    // The walk ends on the last visible task, and printing is no change to the list.
    QCOMPARE(list.table.currentPosition(), int(printed.size()));
    if (!printed.isEmpty())
        QCOMPARE(list.table.asString(Task), printed.last());
    QCOMPARE(list.hookMarks, marks);
}

void TestReport::firstLine_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("width");
    QTest::addColumn<QString>(
        "kind"); // "whole", "words": cut at a word's end, "inside": cut in a word
    QTest::newRow("fits") << "Short task" << 55.3 << "whole";
    QTest::newRow("120 characters")
        << QStringLiteral(
               "Write the yearly report for the club with every figure checked twice and "
               "sent to the board before the spring meeting")
        << 55.3 << "words";
    QTest::newRow("one long word") << QString(80, u'W') << 55.3 << "inside";
    QTest::newRow("progress over its width") << "1234567890" << 6.6 << "inside";
    QTest::newRow("line break") << "first\nsecond" << 55.3 << "first";
}

void TestReport::firstLine() {
    QFETCH(QString, text);
    QFETCH(double, width);
    QFETCH(QString, kind);
    QImage device(10, 10, QImage::Format_RGB32);
    device.setDotsPerMeterX(DotsPerMm * 1000);
    device.setDotsPerMeterY(DotsPerMm * 1000);

    const QString line = TQRptTasks::firstLine(text, width, &device);

    QVERIFY(text.startsWith(line));
    QVERIFY(QFontMetricsF(TQRptTasks::reportFont(), &device).horizontalAdvance(line) <=
            width * DotsPerMm);
    if (kind == u"whole") {
        QCOMPARE(line, text);
    } else if (kind == u"first") {
        QCOMPARE(line, QStringLiteral("first"));
    } else {
        QVERIFY(!line.isEmpty());
        QVERIFY(line.size() < text.size());
        QCOMPARE(text.at(line.size()) == u' ', kind == u"words");
    }
}

void TestReport::renderedPage() {
    TaskListFixture list;
    list.add(QStringLiteral("Task=") + QString(30, u'W') + QStringLiteral(" ") + QString(30, u'W') +
             QStringLiteral("|Status=<null>|Comments=") + QString(40, u'M'));
    AddTasks(list, 40);
    TQRptTasks report;
    report.setTitle(QStringLiteral("Groceries *"));
    report.fill(list.table);
    const QImage page = RenderImage(report, 0);
    QVERIFY(page.save(QDir::temp().filePath(QStringLiteral("corvantis-report.png"))));

    // The rule runs from the left margin 288.1 mm across (a little into the right margin).
    QVERIFY(Inked(page, 5.5, 14.7, 1, 0.2));
    QVERIFY(Inked(page, 292.5, 14.7, 0.5, 0.2));
    QVERIFY(!Inked(page, 293.3, 14, 2, 1.5));
    // The title stands at the top left corner of the margins; nothing above or left of it.
    QVERIFY(Inked(page, 5, 5, 5, 3));
    QVERIFY(!Inked(page, 0, 0, 297, 4.9));
    QVERIFY(!Inked(page, 0, 0, 4.9, 210));
    // A fixed-width field is cut at its width: nothing of the long task between its column's
    // end (5 + 8.5 + 55.3 mm) and the empty Status column.
    QVERIFY(Inked(page, 13.5, 16.4, 10, 4));
    QVERIFY(!Inked(page, 68.9, 16.4, 1.6 + 20, 4.5));
    // Comments stop at 40.5 mm.
    QVERIFY(Inked(page, 250.5, 16.4, 10, 4));
    QVERIFY(!Inked(page, 291.1, 16.4, 5.9, 4.5));
    // The last of 41 detail bands ends above the bottom margin; nothing below it.
    QVERIFY(Inked(page, 7, 16.4 + 40 * 4.5, 3, 4));
    QVERIFY(!Inked(page, 0, 16.4 + 41 * 4.5, 297, 210 - 16.4 - 41 * 4.5));
}

void TestReport::preview() {
    TaskListFixture list;
    AddTasks(list, 50);
    list.table.first();
    list.table.edit();
    list.table.setString(Task, QStringLiteral("edited, not stored yet"));
    TQRptTasks report;
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("printed.pdf"));
    int previewPages = 0;

    PrintWith(report, list.table, QStringLiteral("Home *"), [&](QPrintPreviewDialog& dialog) {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Tasks"));
        QVERIFY(dialog.windowState() & Qt::WindowMaximized);
        QPrinter* printer = dialog.printer();
        QCOMPARE(printer->docName(), QStringLiteral("Tasks"));
        QCOMPARE(printer->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(printer->pageLayout().pageSize().id(), QPageSize::A4);
        auto* widget = dialog.findChild<QPrintPreviewWidget*>();
        QVERIFY(widget);
        widget->updatePreview();
        previewPages = widget->pageCount();
        // Printing asks for the pages the same way the preview does.
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        widget->print();
    });

    QCOMPARE(previewPages, 2);
    QCOMPARE(PdfPageCount(pdf), 2);
    QCOMPARE(Find(report.layoutPage(0), QStringLiteral("Home *"))->top, 5.0);
    // The pending edit was stored before the walk, and the walk ended on the last task.
    QCOMPARE(TextsAt(report.layoutPage(0), 5 + 8.5).value(1),
             QStringLiteral("edited, not stored yet"));
    QCOMPARE(list.table.state(), DataTable::State::Browse);
    QCOMPARE(list.table.currentPosition(), 50);
}

void TestReport::previewOpensWithoutPrinter() {
    // The real modal preview, closed from a queued call as a person would close it.
    TaskListFixture list;
    AddTasks(list, 3);
    QWidget owner;
    owner.show();
    TQRptTasks report;
    QString title;
    bool maximized = false;
    QTimer::singleShot(0, &owner, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QPrintPreviewDialog*>(modal)) {
            title = dialog->windowTitle();
            maximized = dialog->isMaximized();
        }
        if (modal)
            modal->close();
    });
    report.print(list.table, QStringLiteral("Three"), &owner);
    QCOMPARE(title, QStringLiteral("Tasks"));
    QVERIFY(maximized);
    QCOMPARE(list.table.currentPosition(), 3);
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"

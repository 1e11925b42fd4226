#include "base/DatesAndClock.h"
#include "core/TaskListFixture.h"
#include "support/TestSupport.h"
#include "view/CellLook.h"
#include "view/TaskGridDelegate.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTest>

using namespace TaskRecord;

// The grid's painting rules, cell by cell, and the geometry of the progress bar.
class TestGridDelegate : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void cellLook_data();
    void cellLook();
    void missingFieldsPaintPlain();
    void progressBarLayout_data();
    void progressBarLayout();
    void progressBarPixels();
    void progressTextFits_data();
    void progressTextFits();
};

namespace {

const QColor Window(255, 255, 255);

QColor colourOf(const QString& text) {
    if (text == u"window")
        return Window;
    if (text == u"white")
        return Qt::white;
    if (text == u"black")
        return Qt::black;
    const QStringList parts = text.split(u',');
    return QColor(parts.at(0).toInt(), parts.at(1).toInt(), parts.at(2).toInt());
}

int styleOf(const QString& text) {
    int style = StyleNone;
    if (text.contains(u'b'))
        style |= StyleBold;
    if (text.contains(u'u'))
        style |= StyleUnderline;
    if (text.contains(u's'))
        style |= StyleStrikeOut;
    return style;
}

} // namespace

void TestGridDelegate::cellLook_data() {
    QTest::addColumn<QString>("values");
    QTest::addColumn<int>("row"); // 1-based place in the view
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("background");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("bar");

    auto row = [](const char* name, const char* values, int place, const char* field, bool selected,
                  const char* background, const char* text, const char* style, bool bar = false) {
        QTest::newRow(name) << QString::fromUtf8(values) << place << QString::fromUtf8(field)
                            << selected << QString::fromUtf8(background) << QString::fromUtf8(text)
                            << QString::fromUtf8(style) << bar;
    };
    row("odd row plain", "Progress=10", 1, "Task", false, "window", "black", "");
    row("even row, progress 49", "Progress=49", 2, "Task", false, "232,232,236", "black", "");
    row("even row, progress 50", "Progress=50", 2, "Task", false, "128,128,0", "black", "");
    row("in progress", "Status=In progress", 1, "Task", false, "172,189,208", "black", "");
    row("In Progress with a capital P", "Status=In Progress", 1, "Task", false, "window", "black",
        "");
    row("high", "Priority=High", 1, "Task", false, "223,115,29", "black", "b");
    row("urgent", "Priority=Urgent", 2, "Task", false, "255,0,0", "black", "b");
    row("urgent at 60", "Priority=Urgent|Progress=60", 1, "Task", false, "128,128,0", "black", "b");
    row("due yesterday", "DueDate=yesterday", 1, "Task", false, "255,0,0", "black", "bu");
    row("due today", "DueDate=today", 1, "Task", false, "window", "black", "");
    row("complete and overdue", "Status=Complete|DueDate=yesterday|Progress=100", 1, "Task", false,
        "119,171,110", "black", "bu");
    row("cancelled and overdue", "Status=Cancelled|DueDate=yesterday", 1, "Task", false,
        "255,240,172", "black", "s");
    row("cancelled urgent at 80", "Status=Cancelled|Priority=Urgent|Progress=80", 2, "Task", false,
        "255,240,172", "black", "s");
    row("paused high", "Status=Paused|Priority=High", 1, "Task", false, "255,240,172", "black",
        "b");
    row("selected in progress", "Status=In progress", 1, "Task", true, "0,0,128", "white", "");
    // White text on a light background is written black.
    row("selected paused", "Status=Paused", 1, "Task", true, "255,240,172", "black", "");
    row("selected overdue urgent", "Priority=Urgent|DueDate=yesterday", 2, "Task", true, "0,0,128",
        "white", "");
    row("selected cancelled", "Status=Cancelled", 1, "Status", true, "255,240,172", "black", "s");
    row("bookmarked, its column", "Bookmarked=True", 1, "Bookmarked", false, "255,0,0", "black",
        "");
    row("bookmarked, its column, selected", "Bookmarked=True", 1, "Bookmarked", true, "255,0,0",
        "white", "");
    row("bookmarked, another column", "Bookmarked=True", 1, "Task", false, "window", "black", "");
    row("bookmarked and paused", "Bookmarked=True|Status=Paused", 1, "Bookmarked", false,
        "255,240,172", "black", "");
    row("progress column", "Progress=40|Status=Cancelled", 2, "Progress", false, "255,240,172",
        "black", "s", true);
    row("progress column selected", "Progress=40", 1, "Progress", true, "0,0,128", "black", "",
        true);
}

void TestGridDelegate::cellLook() {
    QFETCH(QString, values);
    QFETCH(int, row);
    QFETCH(QString, field);
    QFETCH(bool, selected);
    QFETCH(QString, background);
    QFETCH(QString, text);
    QFETCH(QString, style);
    QFETCH(bool, bar);

    TaskListFixture list;
    if (row == 2)
        list.add(QStringLiteral("Task=other"));
    list.add(QStringLiteral("Task=painted|") + values);
    list.add(QStringLiteral("Task=after"));

    const CellLook look =
        DBGrid1DrawColumnCell(list.table, row - 1, field, selected, uGeneral::Today(), Window);
    QCOMPARE(look.background, colourOf(background));
    QCOMPARE(look.text, colourOf(text));
    QCOMPARE(look.style, styleOf(style));
    QCOMPARE(look.progressBar, bar);
}

void TestGridDelegate::missingFieldsPaintPlain() {
    // A list file may lack the fields the rules read; such cells paint plainly.
    FieldList fields;
    for (const FieldDef& def : TaskRecord::Fields())
        if (def.name == ID || def.name == Task)
            fields.push_back(def);
    DataTable table;
    TaskTable::Configure(table);
    table.createEmpty(fields);
    for (const char* task : {"a", "b"}) {
        table.append();
        table.setString(Task, QString::fromLatin1(task));
        table.post();
    }
    const CellLook look = DBGrid1DrawColumnCell(table, 0, QStringLiteral("Bookmarked"), false,
                                                uGeneral::Today(), Window);
    QCOMPARE(look.background, Window);
    QCOMPARE(
        DBGrid1DrawColumnCell(table, 1, QStringLiteral("Task"), false, uGeneral::Today(), Window)
            .background,
        QColor(232, 232, 236));
}

void TestGridDelegate::progressBarLayout_data() {
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("filledRight"); // last painted column of the fill, -1: none
    QTest::addColumn<QString>("text");
    QTest::newRow("40 of 120") << 40 << 120 << 10 + 48 - 1 << "40%";
    QTest::newRow("33 of 120 truncates") << 33 << 120 << 10 + 39 - 1 << "33%";
    QTest::newRow("100") << 100 << 120 << 10 + 120 - 1 << "100%";
    QTest::newRow("150 stops at the width") << 150 << 120 << 10 + 120 - 1 << "150%";
    QTest::newRow("1 fills nothing") << 1 << 120 << -1 << "1%";
    QTest::newRow("0") << 0 << 120 << -1 << "0%";
    QTest::newRow("negative fills nothing") << -20 << 120 << -1 << "-20%";
    QTest::newRow("huge") << 2000000000 << 120 << 10 + 120 - 1 << "2000000000%";
}

void TestGridDelegate::progressBarLayout() {
    QFETCH(int, progress);
    QFETCH(int, width);
    QFETCH(int, filledRight);
    QFETCH(QString, text);
    const QRect cell(10, 20, width, 17);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(7);
    const QFontMetrics metrics(font);
    const ProgressBarLayout layout = LayOutProgressBar(cell, progress, metrics);
    QCOMPARE(layout.frame, QRect(QPoint(11, 21), QPoint(10 + width - 1, 34)));
    if (filledRight < 0) {
        QVERIFY(layout.filled.isEmpty());
    } else {
        QCOMPARE(layout.filled.topLeft(), QPoint(11, 21));
        QCOMPARE(layout.filled.bottomRight(), QPoint(filledRight, 34));
    }
    QCOMPARE(layout.text, text);
    QCOMPARE(layout.textTopLeft.x(), 10 + width / 2 - metrics.horizontalAdvance(text) / 2);
}

void TestGridDelegate::progressBarPixels() {
    QImage image(200, 50, QImage::Format_RGB32);
    image.fill(QColor(1, 2, 3));
    const QRect cell(10, 20, 120, 17);
    {
        QPainter painter(&image);
        PaintProgressBar(painter, cell, 40, Qt::white, Window, QFont(QStringLiteral("Tahoma")));
    }
    auto at = [&](int x, int y) { return QColor(image.pixel(x, y)); };
    const QColor pen(128, 128, 128);
    const QColor fill(105, 161, 227);
    QCOMPARE(at(11, 21), pen);              // frame corner
    QCOMPARE(at(129, 34), pen);             // last painted corner: L+W-1, T+14
    QCOMPARE(at(130, 25), QColor(1, 2, 3)); // right edge not painted
    QCOMPARE(at(20, 35), QColor(1, 2, 3));  // the bar is 14 high
    QCOMPARE(at(10, 25), QColor(1, 2, 3));  // one pixel in from the left
    QCOMPARE(at(57, 21), pen);              // fill's outline ends at L+F-1
    QCOMPARE(at(20, 27), fill);
    QCOMPARE(at(56, 27), fill);
    QCOMPARE(at(58, 27), Window); // unfilled part in the window colour
    QCOMPARE(at(120, 27), Window);
    // The percentage is written in the given colour somewhere around the middle.
    bool white = false;
    for (int x = 55; x < 85 && !white; ++x)
        for (int y = 21; y < 35 && !white; ++y)
            white = at(x, y) == QColor(Qt::white);
    QVERIFY(white);
}

void TestGridDelegate::progressTextFits_data() {
    QTest::addColumn<int>("height"); // the cell's
    QTest::addColumn<qreal>("scale");
    for (const qreal scale : {1.0, 2.0})
        for (const int height : {17, 14, 24})
            QTest::addRow("%d high at %gx", height, scale) << height << scale;
}

// The percentage stands whole inside the bar's frame, as far from its top as from its bottom.
void TestGridDelegate::progressTextFits() {
    QFETCH(int, height);
    QFETCH(qreal, scale);
    QImage image(int(200 * scale), int(60 * scale), QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Window);
    const QRect cell(10, 20, 120, height);
    {
        QPainter painter(&image);
        PaintProgressBar(painter, cell, 8, Qt::red, Window, QFont(QStringLiteral("Tahoma"), 8));
    }
    // The text's rows in device pixels: those with a reddish pixel.
    int first = -1;
    int last = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel(image.pixel(x, y));
            if (pixel.red() - pixel.green() > 60 && pixel.red() - pixel.blue() > 60) {
                first = first < 0 ? y : first;
                last = y;
            }
        }
    QVERIFY(first >= 0);
    // Inside the frame: its lines are device rows from (T+1)*s to (T+2)*s-1 and from
    // (T+H-2)*s to (T+H-1)*s-1.
    const int frameTop = int((cell.top() + 2) * scale);
    const int frameBottom = int((cell.top() + height - 2) * scale) - 1;
    QVERIFY2(first >= frameTop && last <= frameBottom,
             qPrintable(QStringLiteral("text %1-%2, inside %3-%4")
                            .arg(first)
                            .arg(last)
                            .arg(frameTop)
                            .arg(frameBottom)));
    // Centred: digits stand on the baseline, so the room below them holds the font's descent.
    const int above = first - frameTop;
    const int below = frameBottom - last;
    QVERIFY2(std::abs(above - below) <= 3 * scale,
             qPrintable(QStringLiteral("%1 above, %2 below").arg(above).arg(below)));
}

QTEST_MAIN(TestGridDelegate)
#include "tst_griddelegate.moc"

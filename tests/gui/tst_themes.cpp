#include "gui/EveryWindow.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"
#include "widgets/SurfaceColours.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// A dark desktop palette, as a dark theme gives it: light text on dark grey.
QPalette darkPalette() {
    QPalette dark(QColor(53, 53, 53), QColor(53, 53, 53));
    const QColor light(238, 238, 236);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                            QPalette::ToolTipText, QPalette::HighlightedText})
        dark.setColor(role, light);
    dark.setColor(QPalette::Base, QColor(45, 45, 45));
    dark.setColor(QPalette::AlternateBase, QColor(60, 60, 60));
    dark.setColor(QPalette::ToolTipBase, QColor(30, 30, 30));
    dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
    dark.setColor(QPalette::Link, QColor(53, 132, 228));
    dark.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
    return dark;
}

QPalette lightPalette() {
    return QApplication::style()->standardPalette();
}

// Two paintings of a pixel differ by more than the rounding of a gradient.
bool apart(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
               std::abs(qBlue(a) - qBlue(b)) >
           24;
}

// The parts of a widget that each hold a text on one background.
QList<QRect> textPlaces(const QWidget& widget) {
    QList<QRect> places;
    if (const auto* tabs = qobject_cast<const QTabBar*>(&widget)) {
        for (int i = 0; i < tabs->count(); ++i)
            places << tabs->tabRect(i);
    } else if (const auto* bar = qobject_cast<const QMenuBar*>(&widget)) {
        for (QAction* action : bar->actions())
            places << bar->actionGeometry(action);
    } else {
        places << widget.rect();
    }
    return places;
}

bool showsText(const QWidget& widget) {
    if (const auto* label = qobject_cast<const QLabel*>(&widget))
        return !label->text().trimmed().isEmpty();
    if (const auto* tool = qobject_cast<const QToolButton*>(&widget))
        return !tool->text().isEmpty() && tool->toolButtonStyle() != Qt::ToolButtonIconOnly;
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget))
        return !button->text().isEmpty();
    if (const auto* box = qobject_cast<const QComboBox*>(&widget))
        return !box->currentText().isEmpty();
    if (const auto* line = qobject_cast<const QLineEdit*>(&widget))
        return !line->text().isEmpty();
    return qobject_cast<const QTabBar*>(&widget) || qobject_cast<const QMenuBar*>(&widget);
}

QString describe(const QWidget& widget) {
    const QString name = widget.objectName();
    return (name.isEmpty() ? QString::fromLatin1(widget.metaObject()->className()) : name) +
           QStringLiteral(" in ") + widget.window()->objectName();
}

// Looks at every text of a window as it is painted: the text's pixels are those that change
// when its colour roles are set to another colour; its background is the commonest colour
// around them; its colour the one of its pixels that stands out most. Each text must reach the
// contrast the accessibility guidelines ask of text (4.5).
QStringList unreadableTexts(QWidget& window) {
    QStringList faults;
    const QImage painted = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        // A control greyed out need not read; a label of no control greyed out for its looks must.
        const auto* label = qobject_cast<const QLabel*>(widget);
        const bool greyed = !widget->isEnabled() && (!label || label->buddy());
        if (!widget->isVisible() || greyed || widget->window() != &window || !showsText(*widget))
            continue;
        const QPalette kept = widget->palette();
        QPalette marked = kept;
        for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text,
                                QPalette::HighlightedText, QPalette::BrightText})
            marked.setColor(role, QColor(255, 0, 255));
        widget->setPalette(marked);
        const QPoint at = widget->mapTo(&window, QPoint(0, 0));
        const QImage markedImage =
            window.grab(QRect(at, widget->size())).toImage().convertToFormat(QImage::Format_RGB32);
        widget->setPalette(kept);
        // Where the text is: the pixels that took the other colour.
        // Only what shows: a box scrolled half out of its area is cut at the area's edge.
        const QRect inside = markedImage.rect() & painted.rect().translated(-at) &
                             widget->visibleRegion().boundingRect();
        const auto isText = [&](int x, int y) {
            return apart(markedImage.pixel(x, y), painted.pixel(at.x() + x, at.y() + y));
        };
        for (const QRect& place : textPlaces(*widget)) {
            const QRect area = place & inside;
            QList<QColor> text;
            long sum[3] = {0, 0, 0};
            long around = 0;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x) {
                    if (!isText(x, y))
                        continue;
                    text << QColor::fromRgb(painted.pixel(at.x() + x, at.y() + y));
                    // Its background: the untouched pixels right beside it.
                    for (int dy = -2; dy <= 2; ++dy)
                        for (int dx = -2; dx <= 2; ++dx)
                            if (area.contains(x + dx, y + dy) && !isText(x + dx, y + dy)) {
                                const QRgb pixel = painted.pixel(at.x() + x + dx, at.y() + y + dy);
                                sum[0] += qRed(pixel);
                                sum[1] += qGreen(pixel);
                                sum[2] += qBlue(pixel);
                                ++around;
                            }
                }
            if (text.isEmpty() || around == 0)
                continue; // a text in colours of its own (a style sheet's), judged elsewhere
            const QColor background(int(sum[0] / around), int(sum[1] / around),
                                    int(sum[2] / around));
            double best = 1;
            QColor colour;
            for (const QColor& pixel : text) {
                const double ratio = SurfaceColours::ContrastRatio(pixel, background);
                if (ratio > best) {
                    best = ratio;
                    colour = pixel;
                }
            }
            if (best < 4.5)
                faults << QStringLiteral("%1: %2 on %3 (%4)")
                              .arg(describe(*widget), colour.name(), background.name())
                              .arg(best, 0, 'f', 2);
        }
    }
    // Cells in colours of their own carry the text colour that goes with them.
    for (const QAbstractItemView* view : window.findChildren<QAbstractItemView*>()) {
        const QAbstractItemModel* model = view->model();
        // The task grid keeps its colours (below); Qt's own views (a calendar's) are Qt's.
        if (!view->isVisible() || !model || view->objectName() == u"DBGrid1" ||
            view->objectName().startsWith(u"qt_"))
            continue;
        for (int row = 0; row < std::min(model->rowCount(), 200); ++row)
            for (int column = 0; column < model->columnCount(); ++column) {
                const QModelIndex cell = model->index(row, column);
                const QVariant back = cell.data(Qt::BackgroundRole);
                const QVariant fore = cell.data(Qt::ForegroundRole);
                if (!back.isValid() && !fore.isValid())
                    continue;
                const QColor background = back.isValid() ? back.value<QBrush>().color()
                                                         : view->palette().color(QPalette::Base);
                const QColor foreground = fore.isValid() ? fore.value<QBrush>().color()
                                                         : view->palette().color(QPalette::Text);
                const double ratio = SurfaceColours::ContrastRatio(foreground, background);
                if (ratio < 4.5)
                    faults << QStringLiteral("%1 cell %2,%3: %4 on %5 (%6)")
                                  .arg(describe(*view))
                                  .arg(row)
                                  .arg(column)
                                  .arg(foreground.name(), background.name())
                                  .arg(ratio, 0, 'f', 2);
            }
    }
    return faults;
}

} // namespace

// Every text of every window reads in a light and in a dark desktop palette: surfaces in the
// program's own colours carry their own text colours, everything else follows the palette.
class TestThemes : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void textsRead_data();
    void textsRead();
    void gridKeepsItsColours();

private:
    std::unique_ptr<TfrmMain> start(bool withList);
    QTemporaryDir m_folder;
    QString m_list;
};

void TestThemes::initTestCase() {
    PinLocaleAndClock();
    // A list with tasks in each state, a task with a history and a deleted one.
    m_list = m_folder.filePath(QStringLiteral("States.cv1"));
    QVERIFY(
        QFile::copy(QStringLiteral(CORVANTIS_TEST_DATA "/datapacket/task-history.cv1"), m_list));
    QFile(m_list).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

std::unique_ptr<TfrmMain> TestThemes::start(bool withList) {
    auto main = StartCorvantis(m_folder.path(), withList ? QStringList{m_list} : QStringList{});
    if (withList)
        main->ActiveTaskView()->cdsTasks()->first();
    return main;
}

void TestThemes::textsRead_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("window");
    // Each style draws bars, tabs and buttons its own way, from the same palette roles.
    for (const char* style : {"Fusion", "Windows"})
        for (const bool dark : {false, true})
            for (int i = 0; i < EveryWindow().size(); ++i)
                QTest::addRow("%s, %s, %s", style, dark ? "dark" : "light", EveryWindow()[i].name)
                    << QString::fromLatin1(style) << dark << i;
}

void TestThemes::textsRead() {
    QFETCH(QString, style);
    QFETCH(bool, dark);
    QFETCH(int, window);
    if (QApplication::style()->name().compare(style, Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create(style));
    QApplication::setPalette(dark ? darkPalette() : lightPalette());
    ScriptedPrompt prompt;
    const WindowShowing& showing = EveryWindow()[window];
    const auto main = start(showing.withList);
    QStringList faults;
    QVERIFY(WithWindowShown(*main, showing.command,
                            [&](QWidget& shown) { faults = unreadableTexts(shown); }));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

void TestThemes::gridKeepsItsColours() {
    // The grid's colours tell the tasks' states: they are the same in every theme.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    ScriptedPrompt prompt;
    QImage shown[2];
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : lightPalette());
        const auto main = start(true);
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
        QWidget* grid = main->findChild<QWidget*>(QStringLiteral("DBGrid1"));
        shown[dark] = qobject_cast<QAbstractItemView*>(grid)->viewport()->grab().toImage();
    }
    QCOMPARE(shown[1], shown[0]);
}

QTEST_MAIN(TestThemes)
#include "tst_themes.moc"

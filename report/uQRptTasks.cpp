#include "report/uQRptTasks.h"

#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "widgets/ErrorBox.h"
#include "widgets/ScreenFit.h"

#include <QFontMetricsF>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QRegularExpression>
#include <QScreen>
#include <QTextLayout>
#include <QToolBar>

#include <algorithm>

namespace {

const QString JobTitle = QStringLiteral("Tasks");

// One printed field: its heading in the title band and its text in the detail band, in
// millimetres from the band's top left corner. Width 0: as wide as the text.
struct Column {
    QString field;
    QString heading;
    double headingLeft;
    double headingTop;
    double left;
    double width;
};

const std::vector<Column>& Columns() {
    using namespace TaskRecord;
    static const std::vector<Column> columns{
        {ID, QStringLiteral("ID"), 1.9, 5.0, 2.1, 0},
        {Task, QStringLiteral("Task"), 8.5, 5.0, 8.5, 55.3},
        {Status, QStringLiteral("Status"), 65.6, 4.2, 65.6, 0},
        {Difficulty, QStringLiteral("Difficulty"), 82.6, 4.2, 82.6, 0},
        {Priority, QStringLiteral("Priority"), 97.4, 4.2, 97.4, 0},
        {Progress, QStringLiteral("%"), 114.3, 4.2, 114.3, 6.6},
        {Category, QStringLiteral("Category"), 122.8, 4.2, 122.8, 19.3},
        {CreatedDate, QStringLiteral("Date Created"), 143.9, 4.2, 143.9, 0},
        {LastActioned, QStringLiteral("Last Actioned"), 165.1, 4.2, 165.1, 0},
        {CompletedDate, QStringLiteral("Completed Date"), 186.3, 4.2, 186.3, 0},
        {StartDate, QStringLiteral("Start Date"), 211.7, 4.2, 211.7, 0},
        {DueDate, QStringLiteral("Due Date"), 228.6, 4.2, 228.6, 0},
        {Comments, QStringLiteral("Comments"), 245.5, 4.2, 245.5, 40.5},
    };
    return columns;
}

constexpr double RuleTopMm = 9.8;
constexpr double RuleWidthMm = 288.1;
constexpr double UsableHeightMm = TQRptTasks::PageHeightMm - 2 * TQRptTasks::MarginMm;
const int FirstPageRows =
    static_cast<int>((UsableHeightMm - TQRptTasks::TitleBandMm) / TQRptTasks::DetailBandMm);
const int LaterPageRows = static_cast<int>(UsableHeightMm / TQRptTasks::DetailBandMm);

// A band holds one line: whatever follows a line break is not printed.
QString UpToLineBreak(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n\u2028\u2029]"));
    const qsizetype end = text.indexOf(lineBreak);
    return end < 0 ? text : text.left(end);
}

TQRptTasks::PreviewRunner& Runner() {
    static TQRptTasks::PreviewRunner runner;
    return runner;
}

} // namespace

TQRptTasks::TQRptTasks(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("QRptTasks"));
}

void TQRptTasks::setPreviewRunnerForTesting(PreviewRunner runner) {
    Runner() = std::move(runner);
}

QFont TQRptTasks::reportFont() {
    // The columns are placed for Arial's widths: where Arial is missing, a face with the same
    // metrics keeps the headings apart.
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

void TQRptTasks::print(DataTable& table, const QString& caption, QWidget* parent) {
    setTitle(caption);
    fill(table);
    preview(parent);
}

void TQRptTasks::fill(DataTable& table) {
    table.first(); // settles a pending row, so the report shows what is stored
    std::vector<int> fields;
    for (const Column& column : Columns())
        fields.push_back(table.fieldIndex(column.field)); // -1: a list without it prints nothing
    m_rows.clear();
    m_depths.clear();
    const int count = table.visibleRowCount();
    m_rows.reserve(static_cast<std::size_t>(count));
    m_depths.reserve(static_cast<std::size_t>(count));
    for (int position = 0; position < count; ++position) {
        m_depths.push_back(table.outlineDepthAt(position));
        const RowData& row = table.rowDataAt(position);
        QStringList texts;
        texts.reserve(static_cast<qsizetype>(fields.size()));
        for (int field : fields)
            texts << (field < 0 ? QString() : table.displayTextOf(row, field));
        m_rows.push_back(std::move(texts));
    }
    table.last(); // where the walk over the rows ends
}

int TQRptTasks::pageCount() const {
    const int rows = rowCount();
    if (rows <= FirstPageRows)
        return 1;
    return 1 + (rows - FirstPageRows + LaterPageRows - 1) / LaterPageRows;
}

TQRptTasks::PageLayout TQRptTasks::layoutPage(int page) const {
    PageLayout layout;
    double top = MarginMm;
    if (page == 0) {
        layout.texts.push_back({m_title, MarginMm, MarginMm, 0});
        layout.hasRule = true;
        layout.rule =
            QLineF(MarginMm, MarginMm + RuleTopMm, MarginMm + RuleWidthMm, MarginMm + RuleTopMm);
        for (const Column& column : Columns())
            layout.texts.push_back(
                {column.heading, MarginMm + column.headingLeft, MarginMm + column.headingTop, 0});
        top += TitleBandMm;
        layout.firstRow = 0;
        layout.rowCount = std::min(rowCount(), FirstPageRows);
    } else {
        layout.firstRow = FirstPageRows + (page - 1) * LaterPageRows;
        layout.rowCount = std::clamp(rowCount() - layout.firstRow, 0, LaterPageRows);
    }
    const std::vector<Column>& columns = Columns();
    for (int i = 0; i < layout.rowCount; ++i) {
        const QStringList& texts = m_rows[static_cast<std::size_t>(layout.firstRow + i)];
        const double rowTop = top + i * DetailBandMm;
        const int depth = m_depths[static_cast<std::size_t>(layout.firstRow + i)];
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const QString& text = texts[static_cast<qsizetype>(c)];
            if (text.isEmpty())
                continue;
            double left = columns[c].left;
            double width = columns[c].width;
            if (columns[c].field == TaskRecord::Task && depth > 0) {
                const double indent = std::min(depth * IndentMm, width - TaskLeastMm);
                left += indent;
                width -= indent;
            }
            layout.texts.push_back({text, MarginMm + left, rowTop, width});
        }
    }
    return layout;
}

QString TQRptTasks::firstLine(const QString& text, double widthMm, const QPaintDevice* device) {
    const QString line = UpToLineBreak(text);
    const QFont font = reportFont();
    const qreal width = widthMm * device->logicalDpiX() / 25.4;
    if (QFontMetricsF(font, device).horizontalAdvance(line) <= width)
        return line;
    QTextLayout layout(line, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    layout.endLayout();
    QString cut = line.left(first.isValid() ? first.textLength() : 0);
    while (cut.endsWith(u' '))
        cut.chop(1);
    return cut;
}

void TQRptTasks::paintText(QPainter& painter, const TextElement& element) const {
    const QPaintDevice* device = painter.device();
    const double dotsX = device->logicalDpiX() / 25.4;
    const double dotsY = device->logicalDpiY() / 25.4;
    const double lineHeight = QFontMetricsF(painter.font(), device).height();
    const double x = element.left * dotsX;
    const double y = element.top * dotsY;
    if (element.width > 0) {
        const QRectF box(x, y, element.width * dotsX, lineHeight);
        painter.save();
        painter.setClipRect(box, Qt::IntersectClip);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         firstLine(element.text, element.width, device));
        painter.restore();
        return;
    }
    const QRectF box(x, y, PageWidthMm * dotsX - x, lineHeight);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     UpToLineBreak(element.text));
}

void TQRptTasks::paintPage(QPainter& painter, int page) const {
    const QPaintDevice* device = painter.device();
    const double dotsX = device->logicalDpiX() / 25.4;
    const double dotsY = device->logicalDpiY() / 25.4;
    const PageLayout layout = layoutPage(page);

    painter.save();
    painter.setFont(reportFont());
    painter.setBrush(Qt::NoBrush);
    if (layout.hasRule) {
        painter.setPen(QPen(Qt::black, RulePenMm * dotsY, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(QLineF(layout.rule.x1() * dotsX, layout.rule.y1() * dotsY,
                                layout.rule.x2() * dotsX, layout.rule.y2() * dotsY));
    }
    painter.setPen(Qt::black);
    for (const TextElement& element : layout.texts)
        paintText(painter, element);
    painter.restore();
}

void TQRptTasks::setUpPage(QPagedPaintDevice& device) {
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageOrientation(QPageLayout::Landscape);
    device.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

void TQRptTasks::setUpPrinter(QPrinter& printer) {
    printer.setDocName(JobTitle);
    // Painting starts at the paper's corner whatever the printer's own margins are.
    printer.setFullPage(true);
    setUpPage(printer);
}

void TQRptTasks::render(QPagedPaintDevice& device) const {
    int from = 1;
    int to = pageCount();
    auto* printer = dynamic_cast<QPrinter*>(&device);
    if (printer) {
        if (printer->fromPage() > 0)
            from = printer->fromPage();
        if (printer->toPage() > 0)
            to = std::min(to, printer->toPage());
    }
    QPainter painter;
    if (!painter.begin(&device))
        throw CorvantisError(QStringLiteral("Printing failed: the printer could not be started"));
    bool firstPage = true;
    for (int page = from; page <= to; ++page) {
        if (!firstPage && !device.newPage()) {
            painter.end();
            throw CorvantisError(QStringLiteral("Printing failed: no new page could be started"));
        }
        firstPage = false;
        paintPage(painter, page - 1);
    }
    painter.end();
    if (printer && printer->printerState() == QPrinter::Error)
        throw CorvantisError(QStringLiteral("Printing failed"));
}

void TQRptTasks::preview(QWidget* parent) {
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("QRptTasksPreview"));
    dialog.setWindowTitle(JobTitle);
    // Maximized where a window manager does it; the screen's size where none does, so the
    // pages are never shown at a tiny zoom in a window of the dialog's least size.
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        dialog.setGeometry(screen->availableGeometry());
    dialog.setWindowState(dialog.windowState() | Qt::WindowMaximized);
    ScreenFit::KeepOnScreen(dialog);
    // The preview and the printing both ask for the pages here, so they get the same ones.
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { RunGuarded([&] { render(*target); }); });
    // Names for the parts a screen reader reaches: the page number box and the pages.
    for (QLineEdit* page : dialog.findChildren<QLineEdit*>())
        page->setAccessibleName(QStringLiteral("Page"));
    for (QToolBar* tools : dialog.findChildren<QToolBar*>())
        tools->setAccessibleName(QStringLiteral("Preview"));
    for (QWidget* pages : dialog.findChildren<QPrintPreviewWidget*>()) {
        pages->setAccessibleName(QStringLiteral("Pages"));
        for (QGraphicsView* view : pages->findChildren<QGraphicsView*>()) {
            view->setAccessibleName(QStringLiteral("Pages"));
            view->viewport()->setAccessibleName(QStringLiteral("Pages"));
        }
    }
    if (Runner())
        Runner()(dialog);
    else
        dialog.exec();
}

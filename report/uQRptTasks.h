#pragma once

#include <QFont>
#include <QLineF>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class DataTable;
class QPagedPaintDevice;
class QPaintDevice;
class QPainter;
class QPrintPreviewDialog;
class QPrinter;
class QWidget;

// The task report: a fixed A4 landscape page design in millimetres, filled from a task table.
// A title band (the list's caption, a rule and the column headings) opens the first page only;
// below it one 4.5 mm detail band per visible task, in the table's active order and filter,
// 41 on the first page and 44 on every further one. No page header, footer or numbers. A
// subtask's Task text is indented by its level, as the grid shows it.
class TQRptTasks : public QObject {
    Q_OBJECT
public:
    // One text of a page, in millimetres from the paper's top left corner. A width of 0 means
    // "as wide as its text": it grows to the right and may run into the next column. A fixed
    // width prints only the first line of the text wrapped at word boundaries within it.
    struct TextElement {
        QString text;
        double left = 0;
        double top = 0;
        double width = 0;
    };
    struct PageLayout {
        std::vector<TextElement> texts;
        bool hasRule = false;
        QLineF rule; // millimetres, like the texts
        int firstRow = 0;
        int rowCount = 0;
    };

    static constexpr double PageWidthMm = 297;
    static constexpr double PageHeightMm = 210;
    static constexpr double MarginMm = 5;
    static constexpr double TitleBandMm = 11.4;
    static constexpr double DetailBandMm = 4.5;
    static constexpr double RulePenMm = 0.2;
    // The Task column of a subtask moves right by this much a level, its width less by the same;
    // at least TaskLeastMm of it stays.
    static constexpr double IndentMm = 3;
    static constexpr double TaskLeastMm = 25;

    explicit TQRptTasks(QObject* parent = nullptr);

    // The print command: goes to the table's first visible row (settling a pending row), titles
    // the report with caption, walks the visible rows to the last (where the table stays) and
    // shows the modal preview titled "Tasks", maximized, from which the user prints. Never
    // marks the list unsaved. Throws the table's error when settling the pending row fails.
    void print(DataTable& table, const QString& caption, QWidget* parent);

    // The parts of print, for callers and tests that want them apart.
    void setTitle(const QString& title) { m_title = title; }
    QString title() const { return m_title; }
    // Takes the printed texts of every visible row, from the first to the last, and leaves the
    // table on its last visible row. The report keeps them until the next fill.
    void fill(DataTable& table);
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int pageCount() const;
    PageLayout layoutPage(int page) const; // page: 0-based

    // Paints one page at the paper's top left corner of the painter's device, at its resolution.
    void paintPage(QPainter& painter, int page) const;
    // A4 landscape, without device margins: the design places everything itself.
    static void setUpPage(QPagedPaintDevice& device);
    static void setUpPrinter(QPrinter& printer);
    // Paints every page onto a device already set up, one device page each. A printer's own
    // page range (fromPage, toPage) is honoured. Throws when the device cannot be painted on.
    void render(QPagedPaintDevice& device) const;
    // Shows the modal preview of what fill took.
    void preview(QWidget* parent);

    static QFont reportFont();
    // The part of text that a fixed-width field prints: its first line, wrapped at word
    // boundaries (or anywhere within a word longer than the width) at widthMm on device.
    static QString firstLine(const QString& text, double widthMm, const QPaintDevice* device);

    // Tests replace the preview's modal exec (nullptr restores it). The runner gets the dialog
    // set up and connected, before it is shown.
    using PreviewRunner = std::function<void(QPrintPreviewDialog&)>;
    static void setPreviewRunnerForTesting(PreviewRunner runner);

private:
    void paintText(QPainter& painter, const TextElement& element) const;

    QString m_title;
    std::vector<QStringList> m_rows; // the display texts of the detail fields, per row
    std::vector<int> m_depths;       // how deep each row stands in the list's outline
};

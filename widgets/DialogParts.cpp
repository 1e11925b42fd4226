#include "widgets/DialogParts.h"

#include "widgets/InterfaceFont.h"
#include "widgets/ScreenFit.h"

#include <QAbstractScrollArea>
#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWindow>

#include <algorithm>

namespace {

// Gives a resizable window an outer size, frame included. The frame is known only once the
// window stands on the screen (a window manager may add it later still), so the size is fitted
// when the window is shown or activated, until the user resizes it.
class OuterSize final : public QObject {
public:
    OuterSize(QWidget& window, const QSize& outer) : QObject(&window), m_outer(outer) {
        m_set = outer;
        window.resize(outer);
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (!window || m_userSized || !window->isWindow())
            return false;
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::WindowActivate:
            fit(*window);
            break;
        case QEvent::Resize:
            if (window->size() != m_set)
                m_userSized = true;
            break;
        default:
            break;
        }
        return false;
    }

private:
    void fit(QWidget& window) {
        const QWindow* handle = window.windowHandle();
        if (!handle)
            return;
        const QMargins frame = handle->frameMargins();
        m_set = QSize(m_outer.width() - frame.left() - frame.right(),
                      m_outer.height() - frame.top() - frame.bottom());
        if (window.size() != m_set)
            window.resize(m_set);
    }

    QSize m_outer;
    QSize m_set; // the client size last given, to tell the user's resizing from ours
    bool m_userSized = false;
};

} // namespace

namespace DialogParts {

void SetUp(QDialog& window, const QString& name, const QString& caption, const QSize& size,
           Frame frame) {
    window.setObjectName(name);
    window.setWindowTitle(caption);
    window.setFont(InterfaceFont::Font());
    ScreenFit::KeepOnScreen(window);
    const Qt::WindowFlags closeOnly =
        Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    switch (frame) {
    case Frame::Sizeable:
        window.resize(size);
        return;
    case Frame::SizeableOuter:
        new OuterSize(window, size);
        return;
    case Frame::Fixed:
        window.setWindowFlags(Qt::Dialog | closeOnly);
        break;
    case Frame::Tool:
        window.setWindowFlags(Qt::Tool | closeOnly);
        break;
    }
    window.setFixedSize(std::max(size.width(), LeastWidthForCaption(caption)), size.height());
}

int LeastWidthForCaption(const QString& caption) {
    constexpr int CloseBoxAndMargins = 96;
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPointSizeF(std::max(font.pointSizeF(), 11.0));
    return QFontMetrics(font).horizontalAdvance(caption) + CloseBoxAndMargins;
}

QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, const QPoint& at) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(at);
    label->adjustSize();
    return label;
}

void PlaceInRow(const std::vector<RowPlace>& row) {
    constexpr int LabelGap = 3; // between a label's text and the control it names
    int shift = 0;
    int textEnd = 0;
    bool afterLabel = false;
    for (const RowPlace& place : row) {
        const auto* label = qobject_cast<const QLabel*>(place.widget);
        const bool natural = place.width == Natural;
        int x = place.x + shift;
        if (afterLabel && x < textEnd + LabelGap)
            x = textEnd + LabelGap;
        shift = x - place.x;
        const int width = natural ? place.widget->sizeHint().width() : place.width;
        place.widget->setGeometry(x, place.widget->y(), width, place.widget->height());
        afterLabel = natural && label;
        if (afterLabel)
            textEnd = x + label->contentsRect().left() + label->margin() +
                      label->fontMetrics().horizontalAdvance(label->text());
    }
}

QPushButton* AddButton(QWidget* parent, const QString& name, const QString& text,
                       const QPoint& at) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(QRect(at, QSize(75, 25)));
    button->setAutoDefault(false);
    return button;
}

QString Verbatim(const QString& name) {
    return QString(name).replace(u'&', QStringLiteral("&&"));
}

void NameScrollBars(QAbstractScrollArea& area, const QString& name) {
    area.verticalScrollBar()->setAccessibleName(name);
    area.horizontalScrollBar()->setAccessibleName(name);
}

} // namespace DialogParts

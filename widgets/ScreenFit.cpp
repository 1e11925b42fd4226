#include "widgets/ScreenFit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

class FitOnShow final : public QObject {
public:
    explicit FitOnShow(QWidget& window) : QObject(&window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* window = qobject_cast<QWidget*>(watched); window && window->isWindow())
                ScreenFit::Fit(*window);
        return false;
    }
};

// The frame the window manager puts around the window: known once the window has stood on the
// screen; until then a title bar and thin borders are assumed.
QMargins frameOf(const QWidget& window) {
    if (const QWindow* handle = window.windowHandle()) {
        const QMargins known = handle->frameMargins();
        if (!known.isNull())
            return known;
    }
    return {4, 30, 4, 4};
}

} // namespace

namespace ScreenFit {

void KeepOnScreen(QWidget& window) {
    new FitOnShow(window);
}

void Fit(QWidget& window) {
    if (window.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return; // the window system fits it
    const QScreen* screen = window.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QMargins frame = frameOf(window);
    const int widest = std::max(area.width() - frame.left() - frame.right(), 1);
    const int highest = std::max(area.height() - frame.top() - frame.bottom(), 1);
    // A window's least size gives way to the screen's.
    const QSize least = window.minimumSize();
    if (least.width() > widest || least.height() > highest)
        window.setMinimumSize(std::min(least.width(), widest), std::min(least.height(), highest));
    const QSize size(std::min(window.width(), widest), std::min(window.height(), highest));
    if (size != window.size())
        window.resize(size);
    // The frame's top left corner, moved so that the whole frame lies within the area.
    const QPoint corner = window.pos();
    const int outerWidth = size.width() + frame.left() + frame.right();
    const int outerHeight = size.height() + frame.top() + frame.bottom();
    const QPoint fitted(std::clamp(corner.x(), area.left(), area.right() + 1 - outerWidth),
                        std::clamp(corner.y(), area.top(), area.bottom() + 1 - outerHeight));
    if (fitted != corner)
        window.move(fitted);
}

} // namespace ScreenFit

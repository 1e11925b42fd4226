#include "widgets/DecorativeStrip.h"

#include "widgets/ProgramColours.h"

#include <QLinearGradient>
#include <QPainter>

DecorativeStrip::DecorativeStrip(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
}

void DecorativeStrip::paintEvent(QPaintEvent* event) {
    Q_UNUSED(event);
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0.0, QColor(96, 112, 150));
    gradient.setColorAt(0.6, QColor(160, 172, 204));
    gradient.setColorAt(1.0, ProgramColours::ViewBackground);
    painter.fillRect(rect(), gradient);
}

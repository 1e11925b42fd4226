#include "widgets/DecorativeStrip.h"

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
    gradient.setColorAt(1.0, QColor(208, 208, 216));
    painter.fillRect(rect(), gradient);
}

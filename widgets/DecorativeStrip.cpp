#include "widgets/DecorativeStrip.h"

#include "widgets/ProgramColours.h"
#include "widgets/SurfaceColours.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

const QColor DeepEnd(96, 112, 150);

} // namespace

DecorativeStrip::DecorativeStrip(QWidget* parent, Shade shade) : QFrame(parent), m_shade(shade) {
    setFrameShape(QFrame::NoFrame);
    // What is written straight onto the picture reads on its colour in any theme: white on the
    // deep one (its darker end is where titles start), black on the soft one.
    SurfaceColours::Fix(*this, shade == Shade::Deep ? DeepEnd : ProgramColours::BandShade);
}

void DecorativeStrip::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        if (m_shade == Shade::Deep) {
            QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
            gradient.setColorAt(0.0, DeepEnd);
            gradient.setColorAt(0.6, QColor(160, 172, 204));
            gradient.setColorAt(1.0, ProgramColours::ViewBackground);
            painter.fillRect(rect(), gradient);
        } else {
            // Across the width, from the views' background to a deeper blue-grey, with a touch
            // of light along the top edge.
            QLinearGradient across(rect().topLeft(), rect().topRight());
            across.setColorAt(0.0, ProgramColours::ViewBackground);
            across.setColorAt(1.0, ProgramColours::BandShade);
            painter.fillRect(rect(), across);
            QLinearGradient sheen(rect().topLeft(), rect().bottomLeft());
            sheen.setColorAt(0.0, QColor(255, 255, 255, 70));
            sheen.setColorAt(0.5, QColor(255, 255, 255, 0));
            painter.fillRect(rect(), sheen);
        }
    }
    QFrame::paintEvent(event);
}

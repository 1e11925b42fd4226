#include "widgets/ElidedLabel.h"

#include <QFontMetricsF>
#include <QResizeEvent>

#include <cmath>

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QString ElidedLabel::oneLine() const {
    return m_full.split(u'\n', Qt::SkipEmptyParts).join(QStringLiteral("; "));
}

void ElidedLabel::setFullText(const QString& text) {
    m_full = text;
    updateGeometry();
    elide();
}

int ElidedLabel::lineWidth(const QString& line) const {
    // The text's own width, rounded up: the whole-pixel width can fall short of it.
    return int(std::ceil(QFontMetricsF(font()).horizontalAdvance(line)));
}

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    return {lineWidth(oneLine()) + margins.left() + margins.right(), QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    const QString line = oneLine();
    const int width = std::max(0, contentsRect().width());
    const QString shown =
        lineWidth(line) <= width ? line : fontMetrics().elidedText(line, Qt::ElideRight, width);
    setText(shown);
    setToolTip(shown == line && !m_full.contains(u'\n') ? QString() : m_full);
}

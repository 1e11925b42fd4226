#include "widgets/ElidedLabel.h"

#include <QResizeEvent>

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

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(oneLine()) + margins.left() + margins.right(),
            QLabel::sizeHint().height()};
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
    const QString shown =
        fontMetrics().elidedText(line, Qt::ElideRight, std::max(0, contentsRect().width()));
    setText(shown);
    setToolTip(shown == line && !m_full.contains(u'\n') ? QString() : m_full);
}

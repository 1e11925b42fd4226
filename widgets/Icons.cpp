#include "widgets/Icons.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

QIcon ThemeIcon(const QString& themeName, const QColor& color, const QString& glyph) {
    if (QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(color.darker(140));
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
        QFont font;
        font.setBold(true);
        font.setPixelSize(size * 3 / 5);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(pixmap.rect(), Qt::AlignCenter, glyph);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

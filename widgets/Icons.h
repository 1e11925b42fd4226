#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// An icon from the desktop's theme, or a small drawn one of our own when the theme lacks it.
QIcon ThemeIcon(const QString& themeName, const QColor& color, const QString& glyph);

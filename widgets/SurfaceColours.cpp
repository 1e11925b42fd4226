#include "widgets/SurfaceColours.h"

#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

double relativeLuminance(const QColor& colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

// Greyed text: part of the way from the text colour to the background.
QColor greyed(const QColor& text, const QColor& background) {
    const auto mix = [](int from, int to) { return from + (to - from) * 45 / 100; };
    return QColor(mix(text.red(), background.red()), mix(text.green(), background.green()),
                  mix(text.blue(), background.blue()));
}

void setRole(QPalette& palette, QPalette::ColorRole role, const QColor& colour,
             const QColor& disabled) {
    palette.setColor(QPalette::Active, role, colour);
    palette.setColor(QPalette::Inactive, role, colour);
    palette.setColor(QPalette::Disabled, role, disabled);
}

} // namespace

namespace SurfaceColours {

void Fix(QWidget& surface, const QColor& background) {
    const QColor text = TextOn(background);
    QPalette palette = surface.palette();
    setRole(palette, QPalette::Window, background, background);
    setRole(palette, QPalette::WindowText, text, greyed(text, background));
    surface.setPalette(palette);
}

void FixWithButtons(QWidget& bar, const QColor& background) {
    Fix(bar, background);
    const QColor text = TextOn(background);
    // The shades of a raised or sunken edge, as the toolkit makes them from a button colour.
    const QPalette shades(background, background);
    QPalette palette = bar.palette();
    setRole(palette, QPalette::Button, background, background);
    setRole(palette, QPalette::ButtonText, text, greyed(text, background));
    for (const QPalette::ColorRole role :
         {QPalette::Light, QPalette::Midlight, QPalette::Mid, QPalette::Dark, QPalette::Shadow})
        setRole(palette, role, shades.color(role), shades.color(role));
    bar.setPalette(palette);
}

QColor TextOn(const QColor& background) {
    return ContrastRatio(background, Qt::black) >= ContrastRatio(background, Qt::white)
               ? QColor(Qt::black)
               : QColor(Qt::white);
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double first = relativeLuminance(a);
    const double second = relativeLuminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

} // namespace SurfaceColours

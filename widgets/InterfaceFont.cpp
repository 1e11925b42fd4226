#include "widgets/InterfaceFont.h"

#include <QApplication>
#include <QFontDatabase>

namespace {

QString g_testFamily;

QString chosenFamily() {
    const QString tahoma = QStringLiteral("Tahoma");
    if (QFontDatabase::hasFamily(tahoma))
        return tahoma;
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"})
        QFontDatabase::addApplicationFont(InterfaceFont::TahomaFolder + QLatin1String(file));
    if (QFontDatabase::hasFamily(tahoma))
        return tahoma;
    // Asking for a face that is not there would give whatever the font configuration
    // substitutes; the desktop's own font is the better choice.
    return QApplication::font().family();
}

} // namespace

namespace InterfaceFont {

QString Family() {
    if (!g_testFamily.isEmpty())
        return g_testFamily;
    static const QString family = chosenFamily();
    return family;
}

QFont Font(int pointSize) {
    QFont font(Family());
    font.setPointSize(pointSize);
    return font;
}

void SetFamilyForTesting(const QString& family) {
    g_testFamily = family;
}

} // namespace InterfaceFont

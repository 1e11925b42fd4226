#include "widgets/Icons.h"

#include <QDir>
#include <QStandardPaths>

namespace {

void addMissing(QStringList& paths, const QStringList& more) {
    for (const QString& path : more)
        if (!paths.contains(QDir::cleanPath(path)) && !paths.contains(path))
            paths << QDir::cleanPath(path);
}

void setUpIconLookup() {
    // Some platforms name no icon folders at all; the installed themes are always looked for.
    QStringList themes = QIcon::themeSearchPaths();
    addMissing(themes,
               QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                         QStringLiteral("icons"), QStandardPaths::LocateDirectory));
    QIcon::setThemeSearchPaths(themes);
    // A desktop without an icon theme, or with one that lacks a name, gets Breeze's picture;
    // names no theme has are drawn by us and built into the program.
    const QString fallback = QStringLiteral("breeze");
    QIcon::setFallbackThemeName(fallback);
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(fallback);
    QStringList ours = QIcon::fallbackSearchPaths();
    addMissing(ours, {QStringLiteral(":/corvantis/icons")});
    QIcon::setFallbackSearchPaths(ours);
}

} // namespace

QIcon ThemeIcon(const QString& name) {
    static const bool ready = (setUpIconLookup(), true);
    Q_UNUSED(ready)
    return QIcon::fromTheme(name);
}

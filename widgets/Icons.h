#pragma once

#include <QIcon>
#include <QString>

// The program's own name among icons, desktop entries and metadata.
inline QString ApplicationId() {
    return QStringLiteral("org.corvantis.Corvantis");
}

// The icon of a freedesktop icon name: from the desktop's icon theme when it has one, else from
// the Breeze theme the program is installed with, else from the program's own drawings (the
// program's icon, its list files' icon and the few pictures no theme has). The name stays on
// the icon (QIcon::name()), so it is known where each picture comes from.
QIcon ThemeIcon(const QString& name);

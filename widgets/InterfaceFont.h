#pragma once

#include <QFont>
#include <QString>

// The face every window writes in: Tahoma where it can be had, installed or as the free face
// Debian ships for Wine (outside the desktop's font folders, so it is loaded from there), and
// the desktop's own font otherwise.
namespace InterfaceFont {

// Where the free Tahoma faces are found when installed.
inline const QString TahomaFolder = QStringLiteral("/usr/share/wine/fonts/");

// The family in use.
QString Family();
// The interface font in that family at a point size (8 pt unless a window says otherwise).
QFont Font(int pointSize = 8);

// Tests: write in this family instead; an empty name goes back to the normal choice.
void SetFamilyForTesting(const QString& family);

} // namespace InterfaceFont

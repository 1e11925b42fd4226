#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// The desktop's "open" and "explore" services. Nothing waits for the opened program and no
// result is read. Tests replace the opener so nothing is really launched.
namespace DesktopShell {

// Opens a file or a web address with the program the desktop associates with it.
void Open(const QString& pathOrAddress);
// Shows a folder in the file manager.
void ExploreFolder(const QString& folder);

void SetOpenerForTesting(std::function<void(const QUrl&)> opener);

} // namespace DesktopShell

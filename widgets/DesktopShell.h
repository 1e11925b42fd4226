#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// The desktop's "open" and "explore" services. Nothing waits for the opened program. Tests
// replace the opener so nothing is really launched.
namespace DesktopShell {

// Opens a file or a web address with the program the desktop associates with it. A relative
// path is taken from baseFolder (a list's folder) when one is given. Only http, https, ftp,
// mailto and file addresses are opened; a program or a .desktop launcher runs only after the
// user agrees. Throws CorvantisError for a refused address and when nothing opened it.
void Open(const QString& pathOrAddress, const QString& baseFolder = QString());
// Shows a folder in the file manager; says so when none shows it.
void ExploreFolder(const QString& folder);

// opens: what the replaced opener reports, as the desktop's would.
void SetOpenerForTesting(std::function<void(const QUrl&)> opener, bool opens = true);

} // namespace DesktopShell

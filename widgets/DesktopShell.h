#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// The desktop's "open" and "explore" services. Nothing waits for the opened program. Tests
// replace the opener so nothing is really launched.
namespace DesktopShell {

// Opens a file or a web address with the program the desktop associates with it. A relative
// path is taken from baseFolder (a list's folder) when one is given. Only http, https, ftp,
// mailto and file addresses are opened; a program, a launcher, or a file the desktop runs
// through an interpreter or a runner (a script, a .jar, a Windows program) is opened only after
// the user agrees, No being the default answer. Throws CorvantisError for a refused address and
// when nothing opened it.
void Open(const QString& pathOrAddress, const QString& baseFolder = QString());
// Shows a folder in the file manager; says so when none shows it.
void ExploreFolder(const QString& folder);

// opens: what the replaced opener reports, as the desktop's would.
void SetOpenerForTesting(std::function<void(const QUrl&)> opener, bool opens = true);

} // namespace DesktopShell

#include "widgets/DesktopShell.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace DesktopShell {

namespace {
std::function<void(const QUrl&)>& opener() {
    static std::function<void(const QUrl&)> hook;
    return hook;
}

void hand(const QUrl& url) {
    if (opener())
        opener()(url);
    else
        QDesktopServices::openUrl(url);
}
} // namespace

void Open(const QString& pathOrAddress) {
    // A path that exists, or one that looks like a path, is a file; anything else an address.
    const bool looksLikeFile = QFileInfo::exists(pathOrAddress) || pathOrAddress.startsWith(u'/') ||
                               pathOrAddress.startsWith(u'~');
    const QUrl url =
        looksLikeFile ? QUrl::fromLocalFile(pathOrAddress) : QUrl::fromUserInput(pathOrAddress);
    hand(url);
}

void ExploreFolder(const QString& folder) {
    hand(QUrl::fromLocalFile(folder));
}

void SetOpenerForTesting(std::function<void(const QUrl&)> hook) {
    opener() = std::move(hook);
}

} // namespace DesktopShell

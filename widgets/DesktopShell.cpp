#include "widgets/DesktopShell.h"

#include "base/CorvantisError.h"
#include "widgets/Prompt.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>

#include <algorithm>

namespace DesktopShell {

namespace {
struct Opener {
    std::function<void(const QUrl&)> hook;
    bool opens = true;
};
Opener& opener() {
    static Opener instance;
    return instance;
}

bool hand(const QUrl& url) {
    if (opener().hook) {
        opener().hook(url);
        return opener().opens;
    }
    return QDesktopServices::openUrl(url);
}

// "c:" is a drive, not a scheme: a scheme has two letters at least.
bool hasScheme(const QString& text) {
    const qsizetype colon = text.indexOf(u':');
    if (colon < 2)
        return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = text[i];
        if (!(c.isLetterOrNumber() || c == u'+' || c == u'-' || c == u'.') || c.unicode() > 127)
            return false;
    }
    return text[0].isLetter();
}

// The kinds of file the desktop opens by running them, or their code through a runner (an
// interpreter, Java, Wine): a kind counts, and a kind whose direct parent is one of them. Only
// direct parents: JSON descends from JavaScript, which descends from a script kind.
bool runsCode(const QMimeType& type) {
    static const QStringList kinds{
        QStringLiteral("application/x-executable"),
        QStringLiteral("application/x-pie-executable"),
        QStringLiteral("application/x-sharedlib"),
        QStringLiteral("application/x-desktop"),
        QStringLiteral("application/x-shellscript"),
        QStringLiteral("text/x-python"),
        QStringLiteral("application/x-python-bytecode"),
        QStringLiteral("application/x-perl"),
        QStringLiteral("application/x-ruby"),
        QStringLiteral("application/x-java-archive"),
        QStringLiteral("application/x-java-jnlp-file"),
        QStringLiteral("application/x-ms-dos-executable"),
        QStringLiteral("application/x-msdownload"),
        QStringLiteral("application/x-msi"),
        QStringLiteral("application/x-ms-shortcut"),
        QStringLiteral("application/x-bat"),
        QStringLiteral("text/vbscript"),
        QStringLiteral("text/x-ms-regedit"),
        QStringLiteral("application/vnd.appimage"),
    };
    QStringList names = type.aliases() << type.name();
    names += type.parentMimeTypes();
    return std::any_of(names.cbegin(), names.cend(),
                       [](const QString& name) { return kinds.contains(name); });
}

bool runsProgram(const QString& path) {
    const QFileInfo info(path);
    return (info.isFile() && info.isExecutable()) ||
           runsCode(QMimeDatabase().mimeTypeForFile(info));
}
} // namespace

void Open(const QString& pathOrAddress, const QString& baseFolder) {
    QUrl url;
    if (!hasScheme(pathOrAddress) &&
        (QFileInfo::exists(pathOrAddress) || pathOrAddress.startsWith(u'/') ||
         pathOrAddress.startsWith(u'~') || !baseFolder.isEmpty())) {
        QString path = pathOrAddress;
        if (QDir::isRelativePath(path) && !path.startsWith(u'~') && !baseFolder.isEmpty())
            path = QDir(baseFolder).absoluteFilePath(path);
        url = QUrl::fromLocalFile(QDir::cleanPath(path));
    } else {
        url = QUrl::fromUserInput(pathOrAddress);
    }
    static const QStringList opened{QStringLiteral("http"), QStringLiteral("https"),
                                    QStringLiteral("ftp"), QStringLiteral("mailto"),
                                    QStringLiteral("file")};
    if (!url.isValid() || !opened.contains(url.scheme().toLower()))
        throw CorvantisError(
            QStringLiteral(
                "\"%1\" is not opened: only http, https, ftp, mailto and file links are.")
                .arg(pathOrAddress));
    const QString shown =
        url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toDisplayString();
    if (url.isLocalFile() && runsProgram(url.toLocalFile()) &&
        !Prompt::RiskyQuestion(QStringLiteral("%1 runs a program. Open it anyway?").arg(shown)))
        return;
    if (!hand(url))
        throw CorvantisError(QStringLiteral("No program could open %1.").arg(shown));
}

void ExploreFolder(const QString& folder) {
    if (!hand(QUrl::fromLocalFile(folder)))
        Prompt::Error(
            QStringLiteral("No program could show %1.").arg(QDir::toNativeSeparators(folder)));
}

void SetOpenerForTesting(std::function<void(const QUrl&)> hook, bool opens) {
    opener().hook = std::move(hook);
    opener().opens = opens;
}

} // namespace DesktopShell

#include "sync/TrustedCertificates.h"

#include "base/CorvantisError.h"
#include "storage/InputFile.h"
#include "storage/SaveFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

// A PEM certificate is a few kilobytes; a file much larger is not one of ours.
constexpr qint64 MaxFileSize = qint64(1) << 20;

int portOf(const QUrl& server) {
    return server.port(
        server.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ? 80 : 443);
}

QString fileFor(const QUrl& server, const QString& folder) {
    const QByteArray key =
        server.host().toLower().toUtf8() + ':' + QByteArray::number(portOf(server));
    return QDir(folder).filePath(
        QString::fromLatin1(
            QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(40)) +
        QStringLiteral(".pem"));
}

} // namespace

namespace TrustedCertificates {

QString DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/certificates");
}

QSslCertificate Trusted(const QUrl& server, const QString& folder) {
    const QString file = fileFor(server, folder);
    if (!QFileInfo::exists(file))
        return QSslCertificate();
    try {
        const QList<QSslCertificate> found =
            QSslCertificate::fromData(InputFile(file, MaxFileSize).readAll(), QSsl::Pem);
        return found.size() == 1 ? found.first() : QSslCertificate();
    } catch (const CorvantisError&) {
        return QSslCertificate(); // unreadable: the user is asked again
    }
}

void Trust(const QUrl& server, const QSslCertificate& certificate, const QString& folder) {
    if (!QDir().mkpath(folder))
        throw CorvantisError(QStringLiteral("Cannot create folder \"%1\".").arg(folder));
    // Which servers the user trusts is the user's own business.
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    SaveFile::Save(fileFor(server, folder), certificate.toPem(), SaveFile::Access::Private);
}

QString Fingerprint(const QSslCertificate& certificate) {
    const QByteArray digest = certificate.digest(QCryptographicHash::Sha256).toHex().toUpper();
    QStringList pairs;
    for (qsizetype i = 0; i < digest.size(); i += 2)
        pairs << QString::fromLatin1(digest.mid(i, 2));
    return pairs.join(QLatin1Char(':'));
}

} // namespace TrustedCertificates

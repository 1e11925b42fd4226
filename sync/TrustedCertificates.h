#pragma once

#include <QSslCertificate>
#include <QString>
#include <QUrl>

// The server certificates the user chose to trust although the system does not (a server of the
// user's own with a certificate it made itself), one per server: its host and port. A certificate
// is trusted only after the user has seen it, and only for the server it was shown for; another
// certificate from that server is asked about again.
//
// Each is kept in the user's data folder (AppDataLocation/certificates), one PEM file per server
// named by a hash of its host and port, private to the user (0600 files in a 0700 folder), as
// the sync state is.
namespace TrustedCertificates {

QString DefaultFolder();

// The certificate trusted for the server's host and port; a null one when there is none (or its
// file cannot be read).
QSslCertificate Trusted(const QUrl& server, const QString& folder = DefaultFolder());
// Trusts the certificate for the server's host and port, in place of any other. Throws
// CorvantisError when it cannot be kept.
void Trust(const QUrl& server, const QSslCertificate& certificate,
           const QString& folder = DefaultFolder());

// "AB:CD:...": the certificate's SHA-256 fingerprint, as other programs show it.
QString Fingerprint(const QSslCertificate& certificate);

} // namespace TrustedCertificates

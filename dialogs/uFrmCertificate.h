#pragma once

#include "sync/CalDavClient.h"

#include <QDialog>
#include <QSslCertificate>
#include <QUrl>

class QLabel;
class QPushButton;

// Shows a server's certificate that the system does not trust (its holder, issuer, validity and
// SHA-256 fingerprint, and why the system refused it) and asks whether to trust it for that
// server. Cancel, Escape and the close box trust nothing.
class TfrmCertificate : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCertificate(QWidget* parent = nullptr);

    // Shows the certificate of `server` modally; `previous` (when not null) is the one trusted for
    // that server before, which this one replaces. True when the user chose to trust it.
    bool Ask(const QString& server, const QSslCertificate& certificate, const QString& reasons,
             const QSslCertificate& previous = QSslCertificate());

    // For a failure over a certificate the system does not trust (Tls, with the certificate):
    // shows it and, when the user trusts it, keeps it for the server at url. True then; false
    // for any other failure or when the user did not. Throws CorvantisError when it cannot be
    // kept.
    static bool OfferTrust(QWidget* parent, const QUrl& url, const CalDavClient::Failure& failure);

private:
    QLabel* lblIntro = nullptr;
    QLabel* lblHolder = nullptr;
    QLabel* lblIssuer = nullptr;
    QLabel* lblValidity = nullptr;
    QLabel* lblFingerprint = nullptr;
    QLabel* lblReasons = nullptr;
    QPushButton* btnTrust = nullptr;
};

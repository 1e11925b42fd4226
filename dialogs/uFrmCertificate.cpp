#include "dialogs/uFrmCertificate.h"

#include "base/DatesAndClock.h"
#include "sync/TrustedCertificates.h"
#include "widgets/DialogParts.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

// "CN, O, OU" of a holder or issuer, as far as the certificate names them.
QString nameOf(const QSslCertificate& certificate, bool issuer) {
    QStringList parts;
    for (const auto attribute : {QSslCertificate::CommonName, QSslCertificate::Organization,
                                 QSslCertificate::OrganizationalUnitName}) {
        const QStringList values =
            issuer ? certificate.issuerInfo(attribute) : certificate.subjectInfo(attribute);
        for (const QString& value : values)
            if (!value.trimmed().isEmpty() && !parts.contains(value.trimmed()))
                parts << value.trimmed();
    }
    return parts.isEmpty() ? QStringLiteral("(not named)") : parts.join(QStringLiteral(", "));
}

QString dayOf(const QDateTime& moment) {
    return moment.isValid() ? uGeneral::FormatShortDate(moment.toLocalTime().date())
                            : QStringLiteral("?");
}

QLabel* valueLabel(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

TfrmCertificate::TfrmCertificate(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmCertificate"), QStringLiteral("Untrusted Certificate"),
          QSize(520, 300), Frame::Sizeable);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 16, 16, 12);
    grid->setHorizontalSpacing(12);
    lblIntro = valueLabel(this, QStringLiteral("lblIntro"));
    grid->addWidget(lblIntro, 0, 0, 1, 2);
    const auto row = [&](int at, const QString& caption, QLabel*& value, const QString& name) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(QStringLiteral("lblCaption") + name.mid(3));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        value = valueLabel(this, name);
        label->setBuddy(value);
        grid->addWidget(label, at, 0);
        grid->addWidget(value, at, 1);
    };
    row(1, QStringLiteral("Issued to"), lblHolder, QStringLiteral("lblHolder"));
    row(2, QStringLiteral("Issued by"), lblIssuer, QStringLiteral("lblIssuer"));
    row(3, QStringLiteral("Valid"), lblValidity, QStringLiteral("lblValidity"));
    row(4, QStringLiteral("SHA-256 fingerprint"), lblFingerprint, QStringLiteral("lblFingerprint"));
    row(5, QStringLiteral("Why it is not trusted"), lblReasons, QStringLiteral("lblReasons"));
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(6, 1);
    // A fingerprint is compared pair by pair: in a fixed-width face, sixteen pairs a line.
    lblFingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lblFingerprint->setWordWrap(false);
    setMinimumWidth(560);

    btnTrust = new QPushButton(QStringLiteral("Trust this certificate"), this);
    btnTrust->setObjectName(QStringLiteral("btnTrust"));
    btnTrust->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    // Enter must not trust a certificate: only a deliberate click or Space on the button does.
    cancel->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnTrust);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 7, 0, 1, 2);
    connect(btnTrust, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmCertificate::Ask(const QString& server, const QSslCertificate& certificate,
                          const QString& reasons, const QSslCertificate& previous) {
    QString intro = QStringLiteral("The server %1 presented a certificate this system does not "
                                   "trust. Trust it only if you know it is your server's own: "
                                   "compare its fingerprint with the one the server's owner gives.")
                        .arg(server);
    if (!previous.isNull())
        intro += QStringLiteral("\n\nThis is not the certificate you trusted for %1 before (%2): "
                                "the server's certificate has changed, or another machine is "
                                "answering in its place.")
                     .arg(server, TrustedCertificates::Fingerprint(previous));
    lblIntro->setText(intro);
    lblHolder->setText(nameOf(certificate, false));
    lblIssuer->setText(nameOf(certificate, true));
    lblValidity->setText(
        QStringLiteral("%1 to %2")
            .arg(dayOf(certificate.effectiveDate()), dayOf(certificate.expiryDate())));
    const QString fingerprint = TrustedCertificates::Fingerprint(certificate);
    lblFingerprint->setText(fingerprint.left(47) + u'\n' + fingerprint.mid(48));
    lblReasons->setText(reasons);
    setWindowTitle(QStringLiteral("Untrusted Certificate - ") + server);
    adjustSize();
    return exec() == QDialog::Accepted;
}

bool TfrmCertificate::OfferTrust(QWidget* parent, const QUrl& url,
                                 const CalDavClient::Failure& failure) {
    if (failure.kind != CalDavClient::Failure::Tls || failure.certificate.isNull())
        return false;
    // The system's reasons follow the message's first colon and space.
    const qsizetype colon = failure.message.indexOf(QLatin1String(": "));
    const QString reasons = colon < 0 ? failure.message : failure.message.mid(colon + 2);
    TfrmCertificate window(parent);
    if (!window.Ask(CalDavClient::ServerName(url), failure.certificate, reasons,
                    TrustedCertificates::Trusted(url)))
        return false;
    TrustedCertificates::Trust(url, failure.certificate);
    return true;
}

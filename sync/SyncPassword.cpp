#include "sync/SyncPassword.h"

#include "sync/CalDavClient.h"

#include <qt6keychain/keychain.h>

namespace SyncPassword {

namespace {

const QString Service = QStringLiteral("Corvantis");

QString failure(const QString& what, const QString& key, const QKeychain::Job& job) {
    return what.arg(key, job.errorString());
}

} // namespace

QString Key(const QString& userName, const QUrl& server) {
    return userName + QLatin1Char('@') + CalDavClient::ServerName(server);
}

void Read(const QString& key,
          std::function<void(const QString& error, bool found, const QString& password)> done) {
    auto* job = new QKeychain::ReadPasswordJob(Service);
    job->setInsecureFallback(false); // never a plain file
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, [key, done](QKeychain::Job* finished) {
        const auto* read = static_cast<QKeychain::ReadPasswordJob*>(finished);
        if (read->error() == QKeychain::EntryNotFound)
            done(QString(), false, QString());
        else if (read->error() != QKeychain::NoError)
            done(failure(QStringLiteral("The password for %1 could not be read from the "
                                        "keyring: %2"),
                         key, *read),
                 false, QString());
        else
            done(QString(), true, read->textData());
    });
    job->start(); // the job deletes itself once finished
}

void Write(const QString& key, const QString& password,
           std::function<void(const QString& error)> done) {
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setInsecureFallback(false);
    job->setKey(key);
    job->setTextData(password);
    QObject::connect(job, &QKeychain::Job::finished, [key, done](QKeychain::Job* finished) {
        done(finished->error() == QKeychain::NoError
                 ? QString()
                 : failure(QStringLiteral("The password for %1 could not be kept in the "
                                          "keyring: %2"),
                           key, *finished));
    });
    job->start();
}

void Remove(const QString& key, std::function<void(const QString& error)> done) {
    auto* job = new QKeychain::DeletePasswordJob(Service);
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, [key, done](QKeychain::Job* finished) {
        const bool gone = finished->error() == QKeychain::NoError ||
                          finished->error() == QKeychain::EntryNotFound;
        done(gone ? QString()
                  : failure(QStringLiteral("The password for %1 could not be removed from the "
                                           "keyring: %2"),
                            key, *finished));
    });
    job->start();
}

} // namespace SyncPassword

#include "sync/SyncPassword.h"

#include "support/AwaitCall.h"

#include <QtTest>

namespace {

struct Found {
    bool found = false;
    QString password;
};

Awaited<QString, Found> Read(const QString& key) {
    return AwaitCall<QString, Found>([&](auto done) {
        SyncPassword::Read(key, [done](const QString& error, bool found, const QString& password) {
            done(error, Found{found, password});
        });
    });
}

Awaited<QString, bool>
Change(const std::function<void(std::function<void(const QString&)>)>& call) {
    return AwaitCall<QString, bool>(
        [&](auto done) { call([done](const QString& error) { done(error, true); }); });
}

} // namespace

// Runs in a private session bus with an unlocked keyring of its own (the test command starts
// them; see tests/support/keyring-session.sh).
class TestSyncPassword : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("no session bus: run through tests/support/keyring-session.sh");
    }

    void keptReadAndRemoved() {
        const QString key = SyncPassword::Key(
            QStringLiteral("ann"), QUrl(QStringLiteral("https://cal.example.org:8443/dav/")));
        QCOMPARE(key, QStringLiteral("ann@cal.example.org:8443"));
        const QString password = QStringLiteral("pä ss:wörd");
        QCOMPARE(Change([&](auto done) { SyncPassword::Write(key, password, done); }).failure,
                 QString());
        const auto read = Read(key);
        QCOMPARE(read.failure, QString());
        QVERIFY(read.result.found);
        QCOMPARE(read.result.password, password);

        QCOMPARE(Change([&](auto done) { SyncPassword::Remove(key, done); }).failure, QString());
        const auto gone = Read(key);
        QCOMPARE(gone.failure, QString());
        QVERIFY(!gone.result.found);
        QCOMPARE(Change([&](auto done) { SyncPassword::Remove(key, done); }).failure, QString());
    }
};

QTEST_GUILESS_MAIN(TestSyncPassword)
#include "tst_syncpassword.moc"

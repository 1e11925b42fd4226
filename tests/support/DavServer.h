#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <sys/prctl.h>

// A real CalDAV server for a test: Radicale or Xandikos on 127.0.0.1 at a free port, with its
// storage in a throwaway folder, stopped when the object goes. stop() and start() again keep the
// port and the storage, as a server that went away and came back.
class DavServer {
public:
    enum Kind { Radicale, Xandikos };

    static QString Program(Kind kind) {
        return QStandardPaths::findExecutable(kind == Radicale ? QStringLiteral("radicale")
                                                               : QStringLiteral("xandikos"));
    }
    static Kind KindNamed(const QString& name) {
        return name == QLatin1String("xandikos") ? Xandikos : Radicale;
    }
    // Radicale with Basic authentication from an htpasswd file of plain passwords ("user:pw").
    explicit DavServer(Kind kind, const QByteArray& htpasswd = QByteArray())
        : m_kind(kind), m_port(FreePort()) {
        if (!htpasswd.isEmpty()) {
            QFile file(m_dir.filePath(QStringLiteral("htpasswd")));
            if (file.open(QIODevice::WriteOnly))
                file.write(htpasswd);
        }
        m_htpasswd = !htpasswd.isEmpty();
        start();
    }
    ~DavServer() { stop(); }
    DavServer(const DavServer&) = delete;
    DavServer& operator=(const DavServer&) = delete;

    bool isRunning() const { return m_process.state() == QProcess::Running && m_answering; }
    QString error() const { return m_error; }
    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    // Where the server keeps its collections.
    QString storage() const { return m_dir.filePath(QStringLiteral("storage")); }
    QUrl root() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port)); }
    // The folder where a new calendar of the test's own goes, and a default calendar there.
    QUrl home() const {
        return root().resolved(QUrl(m_kind == Radicale ? QStringLiteral("/test/")
                                                       : QStringLiteral("/user/calendars/")));
    }
    QUrl calendar(const QString& name) const {
        return home().resolved(QUrl(name + QLatin1Char('/')));
    }

    bool start() {
        const QString storage = m_dir.filePath(QStringLiteral("storage"));
        QStringList arguments;
        if (m_kind == Radicale) {
            arguments = {QStringLiteral("--config"),
                         QString(),
                         QStringLiteral("--server-hosts"),
                         QStringLiteral("127.0.0.1:%1").arg(m_port),
                         QStringLiteral("--storage-filesystem-folder"),
                         storage,
                         QStringLiteral("--logging-level"),
                         QStringLiteral("warning")};
            if (m_htpasswd)
                arguments += {QStringLiteral("--auth-type"),
                              QStringLiteral("htpasswd"),
                              QStringLiteral("--auth-htpasswd-filename"),
                              m_dir.filePath(QStringLiteral("htpasswd")),
                              QStringLiteral("--auth-htpasswd-encryption"),
                              QStringLiteral("plain")};
            else
                arguments += {QStringLiteral("--auth-type"), QStringLiteral("none")};
        } else {
            arguments = {QStringLiteral("-d"),         storage,
                         QStringLiteral("--defaults"), QStringLiteral("-l"),
                         QStringLiteral("127.0.0.1"),  QStringLiteral("-p"),
                         QString::number(m_port)};
        }
        // The server's log stays in its folder; a start that fails shows its end.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
        // A test that crashes takes its server along.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(Program(m_kind), arguments);
        m_answering = false;
        if (!m_process.waitForStarted(10000)) {
            m_error = m_process.errorString();
            return false;
        }
        // Up when it accepts a connection; a start that takes long fails the test, not hangs it.
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), m_port);
            if (probe.waitForConnected(200)) {
                m_answering = true;
                return true;
            }
            QThread::msleep(50);
        }
        QFile log(m_dir.filePath(QStringLiteral("log")));
        m_error =
            QStringLiteral("the server did not start on port %1: %2")
                .arg(m_port)
                .arg(log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll().right(2000))
                                                   : QString());
        return false;
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        m_answering = false;
    }

    // A port nothing listens on at the moment.
    static quint16 FreePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

private:
    Kind m_kind;
    QTemporaryDir m_dir;
    quint16 m_port;
    bool m_htpasswd = false;
    bool m_answering = false;
    QString m_error;
    QProcess m_process;
};

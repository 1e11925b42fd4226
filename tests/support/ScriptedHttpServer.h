#pragma once

#include <QFile>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>
#include <memory>

// A loopback HTTP server whose answers the test writes: for what no real server gives on demand
// (a server error, an answer that never comes, a body that is not what it claims). Each
// connection carries one request and is closed after the answer.
class ScriptedHttpServer {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };
    // The raw answer to a request; an empty one is never sent (the server stalls).
    using Script = std::function<QByteArray(const Request&)>;

    // An answer with a status line, a body and its length.
    static QByteArray Answer(int status, const QByteArray& reason, const QByteArray& body = {},
                             const QByteArray& contentType = "application/xml") {
        return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
               "\r\nContent-Type: " + contentType +
               "\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

    // Plain HTTP; with a certificate and key (PEM files), HTTPS.
    explicit ScriptedHttpServer(Script script, const QString& certificateFile = {},
                                const QString& keyFile = {})
        : m_script(std::move(script)) {
        if (certificateFile.isEmpty()) {
            m_server = std::make_unique<QTcpServer>();
        } else {
            auto tls = std::make_unique<QSslServer>();
            QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
            QFile certificate(certificateFile), key(keyFile);
            if (certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
                configuration.setLocalCertificate(QSslCertificate(certificate.readAll()));
                configuration.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
            }
            tls->setSslConfiguration(configuration);
            m_server = std::move(tls);
        }
        QObject::connect(m_server.get(), &QTcpServer::newConnection, m_server.get(),
                         [this] { takeConnections(); });
        // A TLS connection is pending only once its handshake is done.
        QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, m_server.get(),
                         [this] { takeConnections(); });
        m_server->listen(QHostAddress::LocalHost, 0);
    }

    QUrl root() const {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2/")
                        .arg(dynamic_cast<QSslServer*>(m_server.get()) ? QStringLiteral("https")
                                                                       : QStringLiteral("http"))
                        .arg(m_server->serverPort()));
    }
    const QList<Request>& requests() const { return m_requests; }

private:
    void takeConnections() {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                *buffer += socket->readAll();
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                Request request;
                const QList<QByteArray> lines = buffer->left(end).split('\n');
                const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
                request.method = first.value(0);
                request.path = first.value(1);
                for (qsizetype i = 1; i < lines.size(); ++i) {
                    const qsizetype colon = lines[i].indexOf(':');
                    if (colon > 0)
                        request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                               lines[i].mid(colon + 1).trimmed());
                }
                const qsizetype length = request.headers.value("content-length").toLongLong();
                if (buffer->size() < end + 4 + length)
                    return;
                request.body = buffer->mid(end + 4, length);
                buffer->clear();
                m_requests.append(request);
                const QByteArray answer = m_script(request);
                if (answer.isEmpty())
                    return; // a server that never answers
                socket->write(answer);
                socket->disconnectFromHost();
            });
        }
    }

    Script m_script;
    std::unique_ptr<QTcpServer> m_server;
    QList<Request> m_requests;
};

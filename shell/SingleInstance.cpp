#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QtEndian>

#include <cerrno>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {

const QByteArray Magic("corvantis-open");
// Far more than any command line holds; a longer message is not ours.
constexpr qsizetype MaxMessage = 4 * 1024 * 1024;
constexpr int ConnectMs = 2000;
// A program busy with a long command reads the files when it is done; the start waits this long
// for its answer, then ends all the same (the files are with it already).
constexpr int AnswerMs = 10000;
const QByteArray Answer("ok\n");
// A start sends its whole message at once: a connection that has not within this time, or that
// sends more than a message, is closed, and only so many are served at a time.
int connectionMs = 10000;
constexpr int MaxConnections = 16;

// What stands at the socket's path: nothing, a socket (a program's, perhaps one that ended), or
// anything else, which is not ours to remove.
enum class AtPath { Nothing, Socket, Other };
AtPath whatIsAt(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? AtPath::Nothing : AtPath::Other;
    return S_ISSOCK(st.st_mode) ? AtPath::Socket : AtPath::Other;
}

QByteArray withLength(const QByteArray& payload) {
    QByteArray framed(4, '\0');
    qToBigEndian(quint32(payload.size()), framed.data());
    return framed + payload;
}

} // namespace

SingleInstance::SingleInstance(const QString& runtimeFolder, const QString& programFilesFolder,
                               QObject* parent)
    : QObject(parent) {
    if (runtimeFolder.isEmpty())
        return;
    QFileInfo folder(programFilesFolder);
    const QString canonical = folder.canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(
            (canonical.isEmpty() ? folder.absoluteFilePath() : canonical).toUtf8(),
            QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    m_socketName =
        QDir(runtimeFolder)
            .filePath(QStringLiteral("corvantis-%1.socket").arg(QString::fromLatin1(hash)));
}

SingleInstance::~SingleInstance() = default;

QByteArray SingleInstance::encode(const QStringList& files) {
    QByteArray payload = Magic;
    for (const QString& file : files)
        payload += '\0' + file.toUtf8();
    return payload;
}

std::optional<QStringList> SingleInstance::decode(const QByteArray& message) {
    const QList<QByteArray> parts = message.split('\0');
    if (parts.first() != Magic)
        return std::nullopt;
    QStringList files;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString file = QString::fromUtf8(parts[i]);
        // Only whole names: the sender's working folder means nothing here.
        if (!file.isEmpty() && QDir::isAbsolutePath(file) && file.toUtf8() == parts[i])
            files << QDir::cleanPath(file);
    }
    return files;
}

SingleInstance::Role SingleInstance::start(const QStringList& files) {
    if (m_socketName.isEmpty())
        return Role::Alone;
    // Two programs starting at once must not both find no one and both listen.
    QLockFile lock(m_socketName + QStringLiteral(".lock"));
    lock.setStaleLockTime(0); // a lock whose program is gone is stale at once
    if (!lock.tryLock(AnswerMs + ConnectMs))
        return Role::Alone;
    if (handOver(files))
        return Role::HandedOver;
    // No one listens: a socket file there was left by a program that ended without removing
    // it. Anything else at that path is not ours: it stays, and this program runs alone.
    switch (whatIsAt(m_socketName)) {
    case AtPath::Socket:
        QLocalServer::removeServer(m_socketName);
        break;
    case AtPath::Other:
        std::fprintf(stderr, "Corvantis: %s is not a socket; it is left alone.\n",
                     qPrintable(m_socketName));
        return Role::Alone;
    case AtPath::Nothing:
        break;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketName)) {
        std::fprintf(stderr, "Corvantis: %s\n", qPrintable(m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return Role::Alone;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            receive(socket);
    });
    return Role::Primary;
}

bool SingleInstance::handOver(const QStringList& files) {
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(ConnectMs))
        return false;
    socket.write(withLength(encode(files)));
    if (!socket.waitForBytesWritten(ConnectMs) && socket.bytesToWrite() > 0)
        return false;
    QByteArray answer;
    while (answer.size() < Answer.size() && socket.waitForReadyRead(AnswerMs))
        answer += socket.readAll();
    if (answer != Answer)
        std::fprintf(stderr, "Corvantis: the running program is busy; it opens the lists when "
                             "it is done.\n");
    return true;
}

void SingleInstance::setConnectionTimeoutForTesting(int milliseconds) {
    connectionMs = milliseconds;
}

void SingleInstance::receive(QLocalSocket* socket) {
    if (m_connections >= MaxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_connections;
    socket->setParent(this);
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // An idle or half-sent connection is not kept open for ever.
    auto* limit = new QTimer(socket);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    limit->start(connectionMs);
    // What arrived so far; it lives as long as the connection that reads into it.
    const auto buffer = std::make_shared<QByteArray>();
    const auto read = [this, socket, buffer] {
        *buffer += socket->readAll();
        if (buffer->size() < 4)
            return;
        const qsizetype length = qFromBigEndian<quint32>(buffer->constData());
        if (length > MaxMessage) {
            socket->abort();
            return;
        }
        if (buffer->size() > 4 + length) {
            socket->abort(); // more than the message it announced: not ours
            return;
        }
        if (buffer->size() < 4 + length)
            return;
        const std::optional<QStringList> files = decode(buffer->mid(4, length));
        buffer->clear();
        if (!files) {
            socket->abort();
            return;
        }
        socket->write(Answer);
        socket->flush();
        socket->disconnectFromServer();
        emit filesHandedOver(*files);
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    read(); // what arrived with the connection
}

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QLocalServer;
class QLocalSocket;

// One running Corvantis per user and per folder of its own files (two programs that share a
// Recent.XML would overwrite each other's): a second start hands its list files to the running
// program through a local socket in the user's runtime folder, and ends. The socket of a program
// that ended without removing it is taken over; anything else at its path is left alone. A
// connection that does not send its message promptly, or sends more, is closed.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // runtimeFolder: the user's own (XDG_RUNTIME_DIR); programFilesFolder: where the program
    // keeps its settings and recent lists, which tells programs apart.
    SingleInstance(const QString& runtimeFolder, const QString& programFilesFolder,
                   QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Role {
        Primary,    // no other program runs: this one receives the files of later starts
        HandedOver, // a running program has the files; this one should end
        Alone,      // no runtime folder or socket to be had: runs on its own, as before
    };
    // Hands the list files (absolute names) to the running program, or becomes the program
    // that receives them.
    Role start(const QStringList& files);
    QString socketName() const { return m_socketName; }

    // The message that carries the files, and its reading; nullopt for a message not ours.
    static QByteArray encode(const QStringList& files);
    static std::optional<QStringList> decode(const QByteArray& message);
    // How long a connection may take to send its message (10 seconds).
    static void setConnectionTimeoutForTesting(int milliseconds);

signals:
    // A later start handed over these files (possibly none: it only wants the window shown).
    void filesHandedOver(const QStringList& files);

private:
    bool handOver(const QStringList& files);
    void receive(QLocalSocket* socket);

    QString m_socketName;
    QLocalServer* m_server = nullptr;
    int m_connections = 0;
};

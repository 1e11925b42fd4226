#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// The sync password of an account, kept in the desktop's keyring (the Secret Service), never in
// a file of ours: service "Corvantis", one entry per user and server. Every call returns at
// once; its callback runs on this thread when the keyring has answered (it may first ask the
// user to unlock it). `error` is empty on success, else a message for the user.
namespace SyncPassword {

// The keyring entry's name: "user@host" (with ":port" when the address gives one).
QString Key(const QString& userName, const QUrl& server);

// `found` is false when the keyring holds no password for the key (no error then).
void Read(const QString& key,
          std::function<void(const QString& error, bool found, const QString& password)> done);
void Write(const QString& key, const QString& password,
           std::function<void(const QString& error)> done);
// A password that is not there is no error.
void Remove(const QString& key, std::function<void(const QString& error)> done);

} // namespace SyncPassword

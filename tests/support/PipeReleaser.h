#pragma once

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Opens and closes the writing end of named pipes until stopped, so that a reader stuck
// opening one goes on (and reads nothing): a start-up that would hang ends, and the test fails.
// The pipes are one path, or every pipe found in a folder and below it (one the program moved).
class PipeReleaser {
public:
    explicit PipeReleaser(const QByteArray& path)
        : PipeReleaser(std::function<QList<QByteArray>()>([path] { return QList{path}; })) {}
    static PipeReleaser inFolder(const QString& folder) {
        return PipeReleaser(std::function<QList<QByteArray>()>([folder] {
            QList<QByteArray> pipes;
            QDirIterator it(folder, QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QByteArray path = QFile::encodeName(it.next());
                struct stat st {};
                if (::lstat(path.constData(), &st) == 0 && S_ISFIFO(st.st_mode))
                    pipes << path;
            }
            return pipes;
        }));
    }
    ~PipeReleaser() {
        m_stop = true;
        m_thread.join();
    }
    bool released() const { return m_released; }

private:
    explicit PipeReleaser(std::function<QList<QByteArray>()> paths)
        : m_thread([this, paths] {
              for (int waited = 0; !m_stop; waited += 100) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  if (waited < 5000)
                      continue;
                  for (const QByteArray& path : paths()) {
                      const int end = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
                      if (end >= 0) {
                          m_released = true;
                          ::close(end);
                      }
                  }
              }
          }) {}

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_released{false};
    std::thread m_thread;
};

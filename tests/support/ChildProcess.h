#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// How a piece of a test run in a child process ended.
struct ChildOutcome {
    QByteArray output;   // what the child handed back
    bool exited = false; // ended by itself, exitCode set
    int exitCode = -1;
    int signal = 0;        // the signal that ended it (SIGKILL when cut short here)
    bool cutShort = false; // killed here: past its time or memory bound
    bool tooLarge = false; // cut short for its memory
    qint64 elapsedMs = 0;
};

// Resident memory of a process, in KiB; 0 when it cannot be read.
inline qint64 ResidentKiB(pid_t pid) {
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// The peak resident memory of this process so far, in KiB.
inline qint64 PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs work in a forked child (whatever it does to its process, a signal, a hang, memory
// running out, stays there) and returns what it handed back. The child is killed with SIGKILL
// once it has run for timeoutMs or its resident memory passes memoryLimitKiB (0: no limit).
// Call it only while the test has no other threads running.
inline ChildOutcome RunInChild(const std::function<QByteArray()>& work, qint64 timeoutMs,
                               qint64 memoryLimitKiB = 0) {
    ChildOutcome outcome;
    int channel[2];
    if (pipe(channel) != 0)
        return outcome;
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return outcome;
    }
    if (child == 0) {
        close(channel[0]);
        const QByteArray bytes = work();
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                write(channel[1], bytes.constData() + done, std::size_t(bytes.size() - done));
            if (n <= 0)
                _exit(3);
            done += n;
        }
        _exit(0);
    }
    close(channel[1]);
    bool open = true;
    bool reaped = false;
    int status = 0;
    while (!reaped) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || (memoryLimitKiB > 0 && ResidentKiB(child) > memoryLimitKiB)) {
            outcome.tooLarge = left > 0;
            outcome.cutShort = true;
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        if (open) {
            pollfd ready{channel[0], POLLIN, 0};
            if (poll(&ready, 1, int(std::min<qint64>(left, 5))) > 0) {
                char buffer[4096];
                const ssize_t n = read(channel[0], buffer, sizeof buffer);
                if (n > 0)
                    outcome.output.append(buffer, std::size_t(n));
                else
                    open = false;
            }
        } else {
            usleep(useconds_t(std::min<qint64>(left, 5) * 1000));
        }
        reaped = waitpid(child, &status, WNOHANG) == child;
    }
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(channel[0], buffer, sizeof buffer)) > 0)
        outcome.output.append(buffer, std::size_t(n));
    close(channel[0]);
    outcome.elapsedMs = timer.elapsed();
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

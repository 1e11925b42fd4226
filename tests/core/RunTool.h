#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What a command-line tool did: its exit code and what it printed.
struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
    QString all() const { return out + err; }
};

// Runs a tool to its end (a generous bound: a hung tool fails the test instead of stalling it).
inline ToolRun
RunTool(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
        int timeoutMs = 300000) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(timeoutMs)) {
        run.err = program + QStringLiteral(": ") + process.errorString();
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

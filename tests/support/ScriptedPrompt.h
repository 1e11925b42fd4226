#pragma once

#include "widgets/Prompt.h"

#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>

// A prompt backend for tests: answers come from queues the test fills, and everything shown is
// recorded. An unexpected prompt (an empty queue) answers No / Cancel and is recorded too.
class ScriptedPrompt final : public PromptBackend {
public:
    ScriptedPrompt() { Prompt::SetBackend(this); }
    ~ScriptedPrompt() override { Prompt::SetBackend(nullptr); }

    QQueue<bool> answers;      // questions (also Yes/No of a choice: true Yes, false No)
    QQueue<int> choices;       // choices among buttons, by index (before `answers`)
    QQueue<QString> inputs;    // input boxes
    QQueue<QString> openNames; // open dialogs ("" = cancel)
    QQueue<QString> saveNames; // save dialogs ("" = cancel)

    QStringList questions;     // asked with Yes and No
    QStringList cautious;      // choices whose Enter chooses the escape button (among `questions`)
    QStringList confirmations; // asked with OK and Cancel (answered from `answers` too)
    QStringList notices;
    QStringList errors;
    QList<FileDialogRequest> openRequests;
    QList<FileDialogRequest> saveRequests;
    QStringList inputPrompts;
    // Runs while a notice is up, as a user reads it (the program waits meanwhile).
    std::function<void(const QString&)> whileNoticeShown;

    bool question(const QString& text) override;
    // Recorded among `questions`; an empty queue chooses the escape button (Cancel).
    int choose(const QString& text, const QStringList& buttons, int escapeButton) override;
    int chooseCautiously(const QString& text, const QStringList& buttons,
                         int escapeButton) override;
    bool confirm(const QString& text) override;
    void notice(const QString& text) override;
    void error(const QString& text) override;
    QString inputBox(const QString& caption, const QString& prompt,
                     const QString& initial) override;
    QString openFileName(const FileDialogRequest& request) override;
    QString saveFileName(const FileDialogRequest& request) override;
};

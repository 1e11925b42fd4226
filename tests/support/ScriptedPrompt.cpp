#include "support/ScriptedPrompt.h"

bool ScriptedPrompt::question(const QString& text) {
    questions << text;
    return answers.isEmpty() ? false : answers.dequeue();
}

int ScriptedPrompt::choose(const QString& text, const QStringList&, int escapeButton) {
    questions << text;
    if (!choices.isEmpty())
        return choices.dequeue();
    if (!answers.isEmpty())
        return answers.dequeue() ? 0 : 1;
    return escapeButton;
}

int ScriptedPrompt::chooseCautiously(const QString& text, const QStringList& buttons,
                                     int escapeButton) {
    cautious << text;
    return choose(text, buttons, escapeButton);
}

bool ScriptedPrompt::confirm(const QString& text) {
    confirmations << text;
    return answers.isEmpty() ? false : answers.dequeue();
}

void ScriptedPrompt::notice(const QString& text) {
    notices << text;
    if (whileNoticeShown)
        whileNoticeShown(text);
}

void ScriptedPrompt::error(const QString& text) {
    errors << text;
}

QString ScriptedPrompt::inputBox(const QString& caption, const QString& prompt,
                                 const QString& initial) {
    inputPrompts << caption + u'|' + prompt;
    return inputs.isEmpty() ? initial : inputs.dequeue();
}

QString ScriptedPrompt::openFileName(const FileDialogRequest& request) {
    openRequests << request;
    return openNames.isEmpty() ? QString() : openNames.dequeue();
}

QString ScriptedPrompt::saveFileName(const FileDialogRequest& request) {
    saveRequests << request;
    return saveNames.isEmpty() ? QString() : saveNames.dequeue();
}

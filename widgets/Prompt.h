#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// What a file dialog is asked for. The filter is written as pairs "Description|patterns|...".
struct FileDialogRequest {
    QString filter;
    QString defaultExtension; // without the dot
    QString directory;        // empty: the platform's choice
    QString fileName;         // the name offered (Save), in directory; empty: none
    QString title;            // empty: "Open" or "Save As"
    QWidget* parent = nullptr;
};

// Where questions, notices and errors go. Production shows Qt dialogs; tests install a backend
// that scripts the answers and records what was shown.
class PromptBackend {
public:
    virtual ~PromptBackend() = default;
    virtual bool question(const QString& text) = 0; // Yes and No; Yes: true
    // Yes and No where Yes does harm: No is the default button, so Enter answers No.
    virtual bool riskyQuestion(const QString& text) { return question(text); }
    // A question with the given buttons; the index of the one chosen. Escape and the close box
    // choose escapeButton.
    virtual int choose(const QString& text, const QStringList& buttons, int escapeButton) = 0;
    // As choose, but Enter too chooses the escape button: for a question whose other answers take
    // a risk.
    virtual int chooseCautiously(const QString& text, const QStringList& buttons,
                                 int escapeButton) {
        return choose(text, buttons, escapeButton);
    }
    virtual bool confirm(const QString& text) = 0; // OK and Cancel; OK: true
    virtual void notice(const QString& text) = 0;
    virtual void error(const QString& text) = 0;
    // Cancelling gives back the initial text.
    virtual QString inputBox(const QString& caption, const QString& prompt,
                             const QString& initial) = 0;
    // Empty when cancelled.
    virtual QString openFileName(const FileDialogRequest& request) = 0;
    virtual QString saveFileName(const FileDialogRequest& request) = 0;
};

namespace Prompt {

// The application's title: the executable's file name without its extension.
QString AppTitle();
// A full stop is added when the message's last character sorts after ".".
QString WithFullStop(const QString& message);

bool Question(const QString& text);
// A question whose Yes does harm (runs a program): Enter answers No.
bool RiskyQuestion(const QString& text);
// A question with Yes, No and Cancel; Escape and the close box mean Cancel.
enum class Answer { Yes, No, Cancel };
Answer YesNoCancel(const QString& text);
// A question with the given buttons (the last one is Cancel: Escape and the close box choose
// it); the index of the button chosen.
int Choose(const QString& text, const QStringList& buttons);
// As Choose, with Cancel also the default button.
int ChooseCautiously(const QString& text, const QStringList& buttons);
bool Confirm(const QString& text);
void Notice(const QString& text);
void Error(const QString& message); // the application's error box; applies WithFullStop
QString InputBox(const QString& caption, const QString& prompt, const QString& initial);
QString OpenFileName(const FileDialogRequest& request);
QString SaveFileName(const FileDialogRequest& request);

// Replaces the backend (nullptr restores the Qt dialogs). The caller keeps ownership.
void SetBackend(PromptBackend* backend);
PromptBackend& Backend();

// Turns "Desc|*.a|All|*.*" into a Qt name filter list ("Desc (*.a);;All (*)").
QString QtNameFilter(const QString& pairs);

} // namespace Prompt

#include "widgets/Prompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString dialogFileName(const FileDialogRequest& request, bool save) {
    QFileDialog dialog(request.parent ? request.parent : QApplication::activeWindow());
    dialog.setWindowTitle(!request.title.isEmpty() ? request.title
                          : save                   ? QStringLiteral("Save As")
                                                   : QStringLiteral("Open"));
    dialog.setNameFilter(Prompt::QtNameFilter(request.filter));
    dialog.setDefaultSuffix(request.defaultExtension);
    if (!request.directory.isEmpty())
        dialog.setDirectory(request.directory);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    // Open takes a typed name whether or not the file exists; Save asks nothing itself.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}

class QtPromptBackend final : public PromptBackend {
public:
    bool question(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, Prompt::AppTitle(), text,
                        QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
        return box.exec() == QMessageBox::Yes;
    }
    bool riskyQuestion(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, Prompt::AppTitle(), text,
                        QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    int choose(const QString& text, const QStringList& buttons, int escapeButton) override {
        return ask(text, buttons, escapeButton, 0);
    }
    int chooseCautiously(const QString& text, const QStringList& buttons,
                         int escapeButton) override {
        return ask(text, buttons, escapeButton, escapeButton);
    }
    int ask(const QString& text, const QStringList& buttons, int escapeButton, int defaultButton) {
        QMessageBox box(QMessageBox::NoIcon, Prompt::AppTitle(), text, QMessageBox::NoButton,
                        QApplication::activeWindow());
        QList<QAbstractButton*> added;
        for (const QString& caption : buttons) {
            const bool escape = added.size() == escapeButton;
            added << box.addButton(caption,
                                   escape ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        }
        if (escapeButton >= 0 && escapeButton < added.size())
            box.setEscapeButton(added[escapeButton]);
        if (defaultButton >= 0 && defaultButton < added.size())
            box.setDefaultButton(qobject_cast<QPushButton*>(added[defaultButton]));
        box.exec();
        const int chosen = static_cast<int>(added.indexOf(box.clickedButton()));
        return chosen >= 0 ? chosen : escapeButton;
    }
    bool confirm(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, Prompt::AppTitle(), text,
                        QMessageBox::Ok | QMessageBox::Cancel, QApplication::activeWindow());
        return box.exec() == QMessageBox::Ok;
    }
    void notice(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, Prompt::AppTitle(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }
    void error(const QString& text) override {
        QMessageBox box(QMessageBox::Critical, Prompt::AppTitle(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }
    QString inputBox(const QString& caption, const QString& prompt,
                     const QString& initial) override {
        bool ok = false;
        const QString answer = QInputDialog::getText(QApplication::activeWindow(), caption, prompt,
                                                     QLineEdit::Normal, initial, &ok);
        return ok ? answer : initial;
    }
    QString openFileName(const FileDialogRequest& request) override {
        return dialogFileName(request, false);
    }
    QString saveFileName(const FileDialogRequest& request) override {
        return dialogFileName(request, true);
    }
};

QtPromptBackend& qtBackend() {
    static QtPromptBackend backend;
    return backend;
}

PromptBackend* g_backend = nullptr;

} // namespace

namespace Prompt {

QString AppTitle() {
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(u'.');
    return dot <= 0 ? name : name.left(dot);
}

QString WithFullStop(const QString& message) {
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

bool Question(const QString& text) {
    return Backend().question(text);
}

bool RiskyQuestion(const QString& text) {
    return Backend().riskyQuestion(text);
}

Answer YesNoCancel(const QString& text) {
    switch (Backend().choose(
        text, {QStringLiteral("&Yes"), QStringLiteral("&No"), QStringLiteral("Cancel")}, 2)) {
    case 0:
        return Answer::Yes;
    case 1:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

int Choose(const QString& text, const QStringList& buttons) {
    return Backend().choose(text, buttons, static_cast<int>(buttons.size()) - 1);
}
int ChooseCautiously(const QString& text, const QStringList& buttons) {
    return Backend().chooseCautiously(text, buttons, static_cast<int>(buttons.size()) - 1);
}
bool Confirm(const QString& text) {
    return Backend().confirm(text);
}
void Notice(const QString& text) {
    Backend().notice(text);
}
void Error(const QString& message) {
    Backend().error(WithFullStop(message));
}
QString InputBox(const QString& caption, const QString& prompt, const QString& initial) {
    return Backend().inputBox(caption, prompt, initial);
}
QString OpenFileName(const FileDialogRequest& request) {
    return Backend().openFileName(request);
}
QString SaveFileName(const FileDialogRequest& request) {
    return Backend().saveFileName(request);
}

void SetBackend(PromptBackend* backend) {
    g_backend = backend;
}
PromptBackend& Backend() {
    return g_backend ? *g_backend : qtBackend();
}

QString QtNameFilter(const QString& pairs) {
    const QStringList parts = pairs.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == QStringLiteral("*.*"))
                pattern = QStringLiteral("*");
        filters << parts.at(i) + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters.join(QStringLiteral(";;"));
}

} // namespace Prompt

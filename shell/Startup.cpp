#include "shell/Startup.h"

#include "shell/Unit1.h"

#include <QApplication>

std::unique_ptr<TfrmMain> StartCorvantis(const QString& programFolder) {
    auto window = std::make_unique<TfrmMain>(programFolder);
    window->CreateSecondaryWindows();
    window->show();
    return window;
}

int RunCorvantis(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    const auto window = StartCorvantis(QCoreApplication::applicationDirPath());
    return app.exec();
}

#include "shell/Startup.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>

std::unique_ptr<QMainWindow> StartCorvantis(const QString& programFolder) {
    Q_UNUSED(programFolder);
    auto window = std::make_unique<QMainWindow>();
    window->setObjectName(QStringLiteral("frmMain"));
    window->setWindowTitle(QStringLiteral("Corvantis"));
    window->resize(1138, 622);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    return window;
}

int RunCorvantis(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto window = StartCorvantis(QCoreApplication::applicationDirPath());
    return app.exec();
}

#include "shell/Startup.h"

#include "shell/Unit1.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <csignal>
#include <cstring>

namespace {

void nameTheApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Corvantis"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANTIS_VERSION));
    QGuiApplication::setDesktopFileName(ApplicationId());
}

// True when the command line only asks for a text; answered without a window system.
bool asksOnlyForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}

// Lists go where the user keeps documents, not into the configuration folder.
QString documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace

QString ProgramFilesFolder(const QString& executableFolder) {
    // A writable folder is not enough: ~/.local/bin is one, and holds other programs.
    const QFileInfo folder(executableFolder);
    const QFileInfo marker(QDir(executableFolder).filePath(QStringLiteral("Corvantis.portable")));
    if (marker.isFile() && folder.isWritable())
        return executableFolder;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return config;
}

QStringList ListFilesFromCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Corvantis keeps to-do lists, one file each, side by side in tabs."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("List files (.cv1) to open, each in its own tab."),
                                 QStringLiteral("[FILE...]"));
    parser.process(arguments);
    QStringList files;
    for (const QString& name : parser.positionalArguments())
        files << QFileInfo(name).absoluteFilePath();
    return files;
}

std::unique_ptr<TfrmMain> StartCorvantis(const QString& programFolder,
                                         const QStringList& listFiles) {
    // Past a file-size limit a save must fail with "File too large", not end the program and
    // every unsaved list with it.
    std::signal(SIGXFSZ, SIG_IGN);
    auto window = std::make_unique<TfrmMain>(programFolder);
    window->CreateSecondaryWindows();
    window->show();
    RunGuarded([&] { window->RecoverLists(); });
    for (const QString& fileName : listFiles)
        RunGuarded([&] { window->OpenListFile(fileName); });
    window->StartReminders();
    return window;
}

int RunCorvantis(int argc, char** argv) {
    nameTheApplication();
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        ListFilesFromCommandLine(QCoreApplication::arguments());
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(ThemeIcon(ApplicationId()));
    const QStringList listFiles = ListFilesFromCommandLine(QCoreApplication::arguments());

    const QString executableFolder = QCoreApplication::applicationDirPath();
    const QString filesFolder = ProgramFilesFolder(executableFolder);
    const auto window = StartCorvantis(filesFolder, listFiles);
    if (filesFolder != executableFolder)
        window->SetListFolder(documentsFolder());
    return app.exec();
}

#include "shell/Startup.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "reminders/ReminderStore.h"
#include "shell/SingleInstance.h"
#include "shell/Unit1.h"
#include "storage/RecoveryStore.h"
#include "storage/SaveFile.h"
#include "sync/SyncState.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

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

// Later starts' files open here. A modal window (a question, a dialog) has the user's attention
// and may be in the middle of a command: they wait until it is closed.
void openHandedOver(TfrmMain* window, const QStringList& files) {
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(250, window, [window, files] { openHandedOver(window, files); });
        return;
    }
    OpenNamedLists(*window, files);
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

// A save the system killed between naming its new file and putting it in place leaves
// "<file>.saving": gone from the program's own folders at each start.
void removeSaveLeftovers(const QString& programFolder) {
    const QDateTime now = uGeneral::Now();
    for (const QString& folder :
         {RecoveryStore::defaultRoot(), ReminderStore::defaultRoot(), SyncState::DefaultRoot()})
        SaveFile::RemoveLeftovers(folder, now);
    SaveFile::RemoveLeftoverOf(QDir(programFolder).filePath(QStringLiteral("Recent.XML")), now);
}

} // namespace

void ReceiveHandedOverLists(SingleInstance& instance, TfrmMain& window) {
    QObject::connect(&instance, &SingleInstance::filesHandedOver, &window,
                     [w = &window](const QStringList& files) { openHandedOver(w, files); });
}

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

CommandLine ReadCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Corvantis keeps to-do lists, one file each, side by side in tabs."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("List files (.cv1) to open, each in its own tab."),
                                 QStringLiteral("[FILE...]"));
    const QCommandLineOption newWindow(
        QStringLiteral("new-window"),
        QStringLiteral("Open a window of its own instead of handing the files to a running "
                       "Corvantis."));
    parser.addOption(newWindow);
    parser.process(arguments);
    CommandLine line;
    line.newWindow = parser.isSet(newWindow);
    for (const QString& name : parser.positionalArguments())
        line.files << QFileInfo(name).absoluteFilePath();
    return line;
}

void OpenNamedLists(TfrmMain& window, const QStringList& files) {
    for (const QString& fileName : files) {
        RunGuarded([&] {
            if (window.ShowOpenList(fileName))
                return;
            try {
                window.OpenListFile(fileName);
            } catch (const CorvantisError& error) {
                // Several files may be named at once: say which one failed.
                if (error.message().contains(fileName))
                    throw;
                throw CorvantisError(QDir::toNativeSeparators(fileName) + QStringLiteral(":\n") +
                                     error.message());
            }
        });
    }
}

std::unique_ptr<TfrmMain> StartCorvantis(const QString& programFolder,
                                         const QStringList& listFiles) {
    // Past a file-size limit a save must fail with "File too large", not end the program and
    // every unsaved list with it.
    std::signal(SIGXFSZ, SIG_IGN);
    removeSaveLeftovers(programFolder);
    auto window = std::make_unique<TfrmMain>(programFolder);
    window->CreateSecondaryWindows();
    window->show();
    // Reminders first: the lists opened next are reminded of as they come, also while a message
    // about them (the recovery's, a file that failed) waits for the user.
    window->StartReminders();
    RunGuarded([&] { window->RecoverLists(); });
    OpenNamedLists(*window, listFiles);
    return window;
}

int RunCorvantis(int argc, char** argv) {
    nameTheApplication();
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        ReadCommandLine(QCoreApplication::arguments());
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(ThemeIcon(ApplicationId()));
    const CommandLine commandLine = ReadCommandLine(QCoreApplication::arguments());

    const QString executableFolder = QCoreApplication::applicationDirPath();
    const QString filesFolder = ProgramFilesFolder(executableFolder);
    SingleInstance instance(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
                            filesFolder);
    if (!commandLine.newWindow &&
        instance.start(commandLine.files) == SingleInstance::Role::HandedOver)
        return 0;
    const auto window = StartCorvantis(filesFolder, commandLine.files);
    if (filesFolder != executableFolder)
        window->SetListFolder(documentsFolder());
    ReceiveHandedOverLists(instance, *window);
    return app.exec();
}

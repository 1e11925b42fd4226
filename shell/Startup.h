#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class SingleInstance;
class TfrmMain;

// Where the settings file and the recent-lists store live: the program's own folder when a file
// named Corvantis.portable beside the program says so (the build folder has one; an unpacked copy
// may) and the user may write there, else the user's configuration folder for Corvantis, made
// when missing. An installed program, in /usr/bin or ~/.local/bin, has no such file.
QString ProgramFilesFolder(const QString& executableFolder);

// What the command line asks for: the list files named on it, as absolute names, and whether
// the program is to open a window of its own (--new-window) instead of handing them to a running
// one. --help, --version and an unknown option print their text and end the process.
struct CommandLine {
    QStringList files;
    bool newWindow = false;
};
CommandLine ReadCommandLine(const QStringList& arguments);

// Opens each list file in a tab of its own, as Open does, or shows its tab when it is open
// already. A file that cannot be opened is reported, by name, and the next one is opened.
void OpenNamedLists(TfrmMain& window, const QStringList& files);

// Builds the program's windows for the given folder of its own files, in start-up order, shows
// the main window and opens each named list file in a tab of its own, as Open does (a file that
// cannot be opened is reported and the next one is opened). Tests call it with a temporary folder.
std::unique_ptr<TfrmMain> StartCorvantis(const QString& programFolder,
                                         const QStringList& listFiles = {});

// Opens the lists later starts hand to the instance in the window, and shows the window.
void ReceiveHandedOverLists(SingleInstance& instance, TfrmMain& window);

// The whole program: the application object, the start-up, the event loop.
int RunCorvantis(int argc, char** argv);

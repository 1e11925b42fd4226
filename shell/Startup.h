#pragma once

#include <QString>

#include <memory>

class TfrmMain;

// Builds the program's windows for the given program folder (where the settings file and the
// recent-lists store live), in start-up order, and shows the main window. Tests call it with a
// temporary folder.
std::unique_ptr<TfrmMain> StartCorvantis(const QString& programFolder);

// The whole program: the application object, the start-up, the event loop.
int RunCorvantis(int argc, char** argv);

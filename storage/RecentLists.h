#pragma once

#include "model/FieldDef.h"

#include <QObject>
#include <QString>

class DataTable;

// The recent-lists store: every list file opened or saved, one row each, in the table cdsFiles
// (File, LastUsed) ordered by LastUsed, newest first, and kept in Recent.XML in the program's
// folder. The table keeps no history: every change is final at once. The main window makes it
// once at start-up and the Reopen window shows it; changed() tells that its rows changed.
class RecentLists : public QObject {
    Q_OBJECT
public:
    static constexpr int FileWidth = 255;
    // The largest Recent.XML read at start-up: some 400,000 lists.
    static constexpr qint64 MaxFileSize = qint64(64) << 20;

    // programFolder: where Recent.XML lives. The table starts empty; LoadRecent fills it.
    explicit RecentLists(const QString& programFolder, QObject* parent = nullptr);

    static FieldList fields();
    // The filter expression that shows the rows whose File contains text ("%" and "_" in it
    // are wildcards, case counts).
    static QString filterFor(const QString& text);
    // True when no file of that name exists (a folder is no file).
    static bool fileIsMissing(const QString& fileName);

    QString fileName() const; // the folder + "Recent.XML"
    // Where an unreadable Recent.XML is kept: Recent.XML.bak, or when that is taken
    // Recent.XML.bak.1, .bak.2, ...
    QString backupFileName() const { return fileName() + QStringLiteral(".bak"); }
    DataTable& table() const { return *cdsFiles; }

    // Loads Recent.XML when it exists. A file that cannot be read is kept aside under the first
    // free backup name and the table starts empty and works normally; the message for the user
    // is returned (naming the file, the reason and the copy; empty: loaded) and kept.
    QString LoadRecent();
    QString loadError() const { return m_loadError; }
    // Adds a row for a file not recorded yet (exact, case-sensitive match among all rows,
    // whatever the filter shows); the new row becomes current. Throws CorvantisError.
    void AddRecent(const QString& fileName);
    bool contains(const QString& fileName) const;

    // File of the current row; empty when the table shows no row.
    QString currentFile() const;
    // Sets the current row's LastUsed to now (it moves to the top).
    void markCurrentUsed();
    // Renames the current row's file on disk, then the row. A relative answer names a file in
    // the folder of the old one. Throws CorvantisError with the system's reason when the file
    // cannot be renamed; the row then keeps its name. False when nothing was to be done (no
    // row, a blank answer, the same name).
    bool renameCurrent(const QString& answer);
    // Drops the current row; the file itself is not touched. False when there is no row.
    bool removeCurrent();
    // Shows the rows whose File contains text; an empty text shows all rows.
    void setFilterText(const QString& text);

    // Writes the whole table to Recent.XML. Throws CorvantisError.
    void save();
    // True when the table changed since it was loaded or last written.
    bool hasUnwrittenChanges() const { return m_unwritten; }
    // Writes the table when it changed; false when that write failed.
    bool saveIfChanged();

signals:
    // A row was added, changed or dropped, or the table was loaded.
    void changed();

private:
    void configure();
    QString readRecent();
    // Renames Recent.XML to the first free backup name and returns that name; empty, with the
    // system's reason in failure, when it cannot.
    QString keepAside(QString& failure) const;

    QString m_folder;
    QString m_loadError;
    DataTable* cdsFiles = nullptr;
    bool m_unwritten = false;
};

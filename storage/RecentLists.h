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

    static FieldList Fields();
    // The filter expression that shows the rows whose File contains text ("%" and "_" in it
    // are wildcards, case counts).
    static QString FilterFor(const QString& text);
    // True when no file of that name exists (a folder is no file).
    static bool FileIsMissing(const QString& fileName);

    QString FileName() const; // the folder + "Recent.XML"
    // Where an unreadable Recent.XML is kept: Recent.XML.bak, or when that is taken
    // Recent.XML.bak.1, .bak.2, ...
    QString BackupFileName() const { return FileName() + QStringLiteral(".bak"); }
    DataTable& Table() const { return *cdsFiles; }

    // Loads Recent.XML when it exists. A file that cannot be read is kept aside under the first
    // free backup name and the table starts empty and works normally; the message for the user
    // is returned (naming the file, the reason and the copy; empty: loaded) and kept.
    QString LoadRecent();
    QString LoadError() const { return m_loadError; }
    // Adds a row for a file not recorded yet (exact, case-sensitive match among all rows,
    // whatever the filter shows); the new row becomes current. Throws CorvantisError.
    void AddRecent(const QString& fileName);
    bool Contains(const QString& fileName) const;

    // File of the current row; empty when the table shows no row.
    QString CurrentFile() const;
    // Sets the current row's LastUsed to now (it moves to the top).
    void MarkCurrentUsed();
    // Renames the current row's file on disk, then the row. A relative answer names a file in
    // the folder of the old one. Throws CorvantisError with the system's reason when the file
    // cannot be renamed; the row then keeps its name. False when nothing was to be done (no
    // row, a blank answer, the same name).
    bool RenameCurrent(const QString& answer);
    // Drops the current row; the file itself is not touched. False when there is no row.
    bool RemoveCurrent();
    // Shows the rows whose File contains text; an empty text shows all rows.
    void SetFilterText(const QString& text);

    // Writes the whole table to Recent.XML. Throws CorvantisError.
    void Save();
    // True when the table changed since it was loaded or last written.
    bool Changed() const { return m_changed; }
    // Writes the table when it changed; false when that write failed.
    bool SaveIfChanged();

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
    bool m_changed = false;
};

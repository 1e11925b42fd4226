#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The category list: one name per line, in the user's order, kept in the settings file of the
// program's folder. The main window makes it once at start-up; the Categories window shows and
// edits it, and every reader takes the lines as they stand, saved or not. Edits last for the run;
// only save() writes them.
class CategoryList : public QObject {
    Q_OBJECT
public:
    // programFolder: where the settings file Corvantis.ini lives. The list starts empty; load()
    // fills it.
    explicit CategoryList(const QString& programFolder, QObject* parent = nullptr);

    // The program folder as an absolute name ending in a path separator.
    QString folder() const { return m_folder; }
    QString settingsFileName() const;

    // Reads the list from the settings file, sorted case-blind by the locale. A missing file gives
    // an empty list; an unreadable one too, and the message for the user is returned and kept.
    QString load();
    QString loadError() const { return m_loadError; }

    QStringList lines() const { return m_lines; }
    void setLines(const QStringList& lines);

    // Writes the lines to the settings file. Throws CorvantisError "Unable to write to <file>".
    void save() const;

signals:
    void changed();

private:
    QString m_folder;
    QString m_loadError;
    QStringList m_lines;
};

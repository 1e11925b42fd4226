#pragma once

#include "document/ListMerge.h"
#include "storage/FileFingerprint.h"

#include <QObject>
#include <QString>

#include <optional>

class DataTable;
class TaskUndo;

// One open list: its task table, the file it was read from or saved to, whether it was made by
// New, the fingerprint of that file as last read or written, whether it holds changes not yet
// written, its caption (with the unsaved mark), and its undo history. It has no window: a
// task-list view shows one, the main window saves it, the recovery store copies it, and a merge
// or a sync works on it.
//
// Failures throw CorvantisError; the document is then as it was before the call, apart from a
// pending row that a save stored.
class ListDocument : public QObject {
    Q_OBJECT
public:
    explicit ListDocument(QObject* parent = nullptr);
    ~ListDocument() override;

    // The task table (objectName "cdsTasks"). A new row gets its defaults and marks the list
    // unsaved; an edit of a stored row marks it at once.
    DataTable* table() const { return m_table; }
    TaskUndo* undo() const { return m_undo; }

    // Starts on an empty new list: made by New, unsaved.
    void createNew();
    // Reads a list file; false, and nothing done, when no file of that name exists. The list is
    // neither marked saved nor unsaved.
    bool load(const QString& fileName);
    // Reads the recovery copy of a list that a program ending abnormally left: the list carries
    // its original file, "made by New" flag and the fingerprint of that file, and starts unsaved.
    // Without a fingerprint the file counts as changed since (a save over it asks); an original
    // file given without its folder is refused (CorvantisError), as nothing says where it is.
    void loadRecovered(const QString& copyFile, const QString& originalFile, bool isNew,
                       const FileFingerprint& original);

    // What the last load has to tell the user once (a file that held bytes that were not
    // UTF-8, tasks whose parent task cannot be found); empty when nothing.
    QString loadNotice() const { return m_loadNotice; }

    QString fileName() const { return m_fileName; }
    bool isNew() const { return m_isNew; }
    bool isUnsaved() const { return m_unsaved; }
    // The list file as this document last read or wrote it.
    const FileFingerprint& fileOnDisk() const { return m_fileOnDisk; }
    // Whether target is this list's own file and another program changed it since it was read
    // or saved (a save over it should ask first).
    bool changedOnDisk(const QString& target) const;

    // A calendar sync is under way: it knows the tasks by their rows, so the list's file is not
    // read again (which makes new rows) until it ends.
    void setSyncing(bool syncing) { m_syncing = syncing; }
    bool isSyncing() const { return m_syncing; }

    // Reads the list's own file again, after another program changed it: the order and the
    // filter stay, the undo history starts anew, the list is neither marked saved nor unsaved.
    // A file that cannot be read leaves the list as it was.
    void reload();

    // Another copy of this list (or its own file, as another program saved it), read and merged
    // against this list but not yet merged in: nothing has changed.
    struct PreparedMerge {
        QString fileName;
        FileFingerprint onDisk; // the copy's file from before it was read
        ListMerge::Plan plan;
    };
    // Stores a pending row, reads the copy and works out the merge. Throws CorvantisError when
    // the copy cannot be read or is not a copy of this list.
    PreparedMerge prepareMerge(const QString& fileName);
    // Makes a prepared merge with one choice per conflict, as one undo step "Merge", and marks
    // the list unsaved when it changed anything. After a merge of the list's own file the list
    // holds what that file holds: a save over it no longer asks.
    ListMerge::Outcome applyMerge(const PreparedMerge& merge, const MergeChoices& choices);

    // Writes the list to target (a pending row is settled first) and marks it saved; keepName
    // makes target the list's file and names the caption after it. The fingerprint follows the
    // list's own file. A save whose folder could not be synced afterwards stands (the file is the
    // new one): its warning, for the user to be told once, is returned; a null text when none.
    //
    // A list's history only grows: a save that would write fewer versions or change-log entries
    // than its file held when it was read or last saved, plus what was stored since, or a version
    // without its values, is refused as an internal error and writes nothing.
    QString save(const QString& target, bool keepName);

    // The caption of the tab that shows the list, with " *" while it is unsaved. A document
    // never given one stands on no tab: its unsaved mark cannot be shown.
    bool hasCaption() const { return m_caption.has_value(); }
    QString caption() const { return m_caption.value_or(QString()); }
    void setCaption(const QString& caption);

    void markUnsaved();
    void markSaved();

    // Undoes or redoes the list's latest step: the list is unsaved after it, unless that brought
    // it back to what was last saved. Throws CorvantisError as TaskUndo does; what was made before
    // the refusal marks the list unsaved.
    void replayStep(bool redo);

    // The saved state as the user sees it, to be put back when a cancelled command undoes its
    // change.
    struct Marks {
        bool unsaved = false;
        std::optional<QString> caption;
        QString savedCaption;
    };
    Marks marks() const { return {m_unsaved, m_caption, m_savedCaption}; }
    void restoreMarks(const Marks& marks);

    // The table's notifications for a new row and for an edit of a stored row.
    void cdsTasksAfterInsert();
    void cdsTasksAfterEdit();

signals:
    // markUnsaved ran: what the list holds is no longer what was saved.
    void modified();
    // markSaved ran.
    void markedSaved();
    void unsavedChanged(bool unsaved);
    void captionChanged(const QString& caption);
    void fileNameChanged(const QString& fileName);
    // The list was written to fileName.
    void saved(const QString& fileName);

private:
    void setUnsaved(bool unsaved);
    void setFileName(const QString& fileName);
    // Orders the table by ID and forgets the undo history: the start of every list.
    void started();
    void addOutlineNotice(const QString& fileName);
    // The history as the document has it now is the least a save may write.
    void keepHistoryFloor();
    // Throws CorvantisError when the table holds less history than the floor.
    void guardHistory() const;

    DataTable* m_table;
    TaskUndo* m_undo;
    QString m_fileName;
    QString m_loadNotice;
    bool m_isNew = false;
    bool m_unsaved = false;
    bool m_syncing = false;
    FileFingerprint m_fileOnDisk;
    std::optional<QString> m_caption;
    QString m_savedCaption;
    // The versions and change-log entries the list file held when it was read or last saved,
    // raised by every change stored since.
    std::size_t m_floorVersions = 0;
    std::size_t m_floorEntries = 0;
};

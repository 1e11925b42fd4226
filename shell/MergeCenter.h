#pragma once

#include "document/ListMerge.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class ListFileWatcher;
class QTimer;
class QWidget;
class TfrTasks;
class TfrmConflicts;

// Where the main window brings copies of its lists together. It watches the open lists' files:
// a list with no unsaved changes is read again quietly when another program changes its file;
// one with unsaved changes takes the change in when nothing conflicts, else its bar offers the
// merge. A change waits while a cell editor, a window or a question is open. The Save question
// over a changed file offers Merge; the sync tools' conflict copies beside a list that is opened
// or saved are offered for a merge, and once the merged list is saved, for the trash; Merge
// With... merges any other copy. Each merge is one undo step; where both copies changed the same
// thing, the Conflicts window asks.
class MergeCenter : public QObject {
    Q_OBJECT
public:
    // window: the main window, over which the Conflicts window comes.
    explicit MergeCenter(QWidget* window);
    ~MergeCenter() override;

    ListFileWatcher& Watcher() { return *m_watcher; }
    // Made at its first use, after the secondary windows of the start-up.
    TfrmConflicts* ConflictsWindow();

    // Follows a view from the moment it stands on its page: its list's file is watched (also
    // after Save As) until the view goes.
    void Follow(TfrTasks* view);
    // The view's list was read from its file: the conflict copies beside it are offered.
    void Opened(TfrTasks* view);
    // A save of the view's list to target is about to write: when another program changed the
    // list's own file since it was read or saved, asks whether to overwrite it, merge it in
    // first or cancel. False when the save is not to write.
    bool ConfirmSaveOver(TfrTasks* view, const QString& target);
    // A save that names the list (Save, Save As): before it writes, the conflict copies beside
    // target not offered yet; after it, the trash for the copies merged in.
    void OfferCopies(TfrTasks* view, const QString& target);
    void Saved(TfrTasks* view);
    // Merge With...: a copy chosen with the open dialog (starting in folder) is merged in.
    void MergeWith(TfrTasks* view, const QString& folder);

private:
    struct Followed;
    Followed* followed(const TfrTasks* view) const;
    void rewatch(Followed& entry, const QString& fileName);
    void drop(QObject* view);
    void fileChanged(const QString& fileName);
    // Takes in the changes on disk that waited, as far as their views allow now.
    void takePending();
    bool mayTakeChange(TfrTasks* view) const;
    void takeChange(TfrTasks* view);
    // Merges a copy into the view's list, the Conflicts window asking when needed; none when it
    // was cancelled. Throws CorvantisError when the copy cannot be read or is no copy.
    // A merge made is recorded in record's merged conflict copies.
    std::optional<ListMerge::Outcome> merge(TfrTasks* view, const QString& fileName,
                                            Followed* record = nullptr);
    // The list's own file merged in (the Save question's and the bar's Merge); false: cancelled.
    bool mergeOwnFile(TfrTasks* view);

    QWidget* m_window;
    ListFileWatcher* m_watcher;
    TfrmConflicts* m_conflicts = nullptr;
    QTimer* m_retry;
    std::vector<std::unique_ptr<Followed>> m_followed;
};

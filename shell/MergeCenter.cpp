#include "shell/MergeCenter.h"

#include "base/CorvantisError.h"
#include "dialogs/uFrmConflicts.h"
#include "document/ConflictCopies.h"
#include "document/ListDocument.h"
#include "document/ListFileWatcher.h"
#include "document/TaskUndo.h"
#include "storage/FileFingerprint.h"
#include "view/ChangedOnDiskBar.h"
#include "view/uFrTasks.h"
#include "widgets/ErrorBox.h"
#include "widgets/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

namespace {

// How often a change on disk that had to wait is tried again (milliseconds).
constexpr int RetryMs = 500;
// Merges of a list's file that keeps changing while it is merged, before the Save asks again.
constexpr int MergeRounds = 3;

QString absolute(const QString& fileName) {
    return fileName.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(fileName).absoluteFilePath());
}

QString shortName(const QString& fileName) {
    return QFileInfo(fileName).fileName();
}

QString counts(const ListMerge::Outcome& outcome) {
    return QStringLiteral("%1 added, %2 changed, %3 deleted")
        .arg(outcome.added)
        .arg(outcome.edited)
        .arg(outcome.deleted);
}

// "a conflict copy" or "2 conflict copies".
QString copiesText(int count) {
    return count == 1 ? QStringLiteral("a conflict copy")
                      : QStringLiteral("%1 conflict copies").arg(count);
}

bool changedNothing(const ListMerge::Outcome& outcome) {
    return outcome.added == 0 && outcome.edited == 0 && outcome.deleted == 0;
}

} // namespace

struct MergeCenter::Followed {
    QPointer<TfrTasks> view;
    const QObject* key = nullptr; // the view, also while it is being destroyed
    QString file;                 // watched, absolute; empty for a list without a file
    bool changePending = false;   // its file changed and the change waits to be taken in
    QStringList offered;          // conflict copies offered already (absolute)
    // Conflict copies merged in since the list was last saved: each as it was merged, and the
    // undo step after which its merge is done.
    struct Merged {
        QString file;
        FileFingerprint onDisk;
        int step = 0;
    };
    std::vector<Merged> merged;

    bool hasMerged(const QString& file) const {
        return std::any_of(merged.begin(), merged.end(),
                           [&](const Merged& copy) { return copy.file == file; });
    }
};

MergeCenter::MergeCenter(QWidget* window)
    : QObject(window), m_window(window), m_watcher(new ListFileWatcher(this)),
      m_retry(new QTimer(this)) {
    setObjectName(QStringLiteral("MergeCenter"));
    m_retry->setSingleShot(true);
    m_retry->setInterval(RetryMs);
    connect(m_retry, &QTimer::timeout, this, &MergeCenter::takePending);
    connect(m_watcher, &ListFileWatcher::changedOnDisk, this, &MergeCenter::fileChanged);
}

MergeCenter::~MergeCenter() = default;

TfrmConflicts* MergeCenter::ConflictsWindow() {
    if (!m_conflicts)
        m_conflicts = new TfrmConflicts(m_window);
    return m_conflicts;
}

MergeCenter::Followed* MergeCenter::followed(const TfrTasks* view) const {
    for (const auto& entry : m_followed)
        if (entry->key == view)
            return entry.get();
    return nullptr;
}

void MergeCenter::Follow(TfrTasks* view) {
    if (followed(view))
        return;
    auto entry = std::make_unique<Followed>();
    entry->view = view;
    entry->key = view;
    Followed* raw = entry.get();
    m_followed.push_back(std::move(entry));
    ListDocument* document = view->document();
    connect(document, &ListDocument::fileNameChanged, this,
            [this, raw](const QString& fileName) { rewatch(*raw, fileName); });
    connect(document, &ListDocument::saved, this, [this, view](const QString& fileName) {
        m_watcher->noteOwnWrite(fileName);
        view->DiskBar()->hide();
    });
    connect(view->DiskBar(), &ChangedOnDiskBar::mergeClicked, this, [this, view] {
        RunGuarded([&] {
            view->EndCellEdit();
            mergeOwnFile(view);
        });
    });
    // A merge undone is no merge: its copy is not offered for the trash (not even once redone).
    connect(view->UndoHistory(), &TaskUndo::stateChanged, this, [this, view] {
        if (Followed* entry = followed(view)) {
            const int done = view->UndoHistory()->index();
            auto& merged = entry->merged;
            merged.erase(
                std::remove_if(merged.begin(), merged.end(),
                               [&](const Followed::Merged& copy) { return copy.step > done; }),
                merged.end());
        }
    });
    connect(view, &QObject::destroyed, this, &MergeCenter::drop);
    rewatch(*raw, view->ListFileName());
}

void MergeCenter::rewatch(Followed& entry, const QString& fileName) {
    const QString file = absolute(fileName);
    if (file == entry.file)
        return;
    const auto watchers = [this](const QString& name) {
        return std::count_if(m_followed.begin(), m_followed.end(),
                             [&](const auto& other) { return other->file == name; });
    };
    const QString before = entry.file;
    entry.file = file;
    if (!before.isEmpty() && watchers(before) == 0)
        m_watcher->unwatch(before);
    if (!file.isEmpty() && watchers(file) == 1)
        m_watcher->watch(file);
    entry.offered.clear();
}

void MergeCenter::drop(QObject* view) {
    const auto it = std::find_if(m_followed.begin(), m_followed.end(),
                                 [&](const auto& entry) { return entry->key == view; });
    if (it == m_followed.end())
        return;
    const QString file = (*it)->file;
    m_followed.erase(it);
    if (!file.isEmpty() && std::none_of(m_followed.begin(), m_followed.end(),
                                        [&](const auto& entry) { return entry->file == file; }))
        m_watcher->unwatch(file);
}

// --- a list's file changed on disk -------------------------------------------------------------

void MergeCenter::fileChanged(const QString& fileName) {
    const QString file = absolute(fileName);
    for (const auto& entry : m_followed)
        if (entry->file == file)
            entry->changePending = true;
    takePending();
}

bool MergeCenter::mayTakeChange(TfrTasks* view) const {
    // A question, a window or a menu open means a command is running: the list may be in the
    // middle of it.
    return !QApplication::activeModalWidget() && !QApplication::activePopupWidget() &&
           view->CanTakeDiskChange();
}

void MergeCenter::takePending() {
    bool waiting = false;
    // Taking one change in runs no event loop, so the list of views stays as it is meanwhile.
    for (const auto& entry : m_followed) {
        if (!entry->changePending || !entry->view)
            continue;
        if (!mayTakeChange(entry->view)) {
            waiting = true;
            continue;
        }
        entry->changePending = false;
        RunGuarded([&] { takeChange(entry->view); });
    }
    if (waiting)
        m_retry->start();
}

void MergeCenter::takeChange(TfrTasks* view) {
    ListDocument* document = view->document();
    const QString file = document->fileName();
    // Already taken in (a merge of the file), or the program's own save.
    if (!document->changedOnDisk(file))
        return;
    const QString name = shortName(file);
    try {
        if (!document->isUnsaved()) {
            view->ReloadFromDisk();
            return;
        }
        const ListDocument::PreparedMerge prepared = document->prepareMerge(file);
        if (!prepared.plan.conflicts.empty()) {
            view->DiskBar()->ShowFor(file);
            return;
        }
        ListMerge::Outcome outcome;
        view->KeepingPlace([&] { outcome = document->applyMerge(prepared, {}); });
        view->DiskBar()->hide();
        view->ShowNote(QStringLiteral("%1 was changed on disk; its changes were merged in (%2).")
                           .arg(name, counts(outcome)));
    } catch (const CorvantisError& error) {
        // No window for what nobody asked for: the note tells, and a save over the file asks.
        view->ShowNote(QStringLiteral("%1 was changed on disk and cannot be taken in: %2")
                           .arg(name, error.message()));
    }
}

// --- merges ------------------------------------------------------------------------------------

std::optional<ListMerge::Outcome> MergeCenter::merge(TfrTasks* view, const QString& fileName,
                                                     Followed* record) {
    ListDocument* document = view->document();
    const ListDocument::PreparedMerge prepared = document->prepareMerge(fileName);
    MergeChoices choices;
    if (!prepared.plan.conflicts.empty()) {
        std::optional<MergeChoices> chosen =
            ConflictsWindow()->Execute(prepared.plan.conflicts, shortName(fileName));
        if (!chosen)
            return std::nullopt;
        choices = std::move(*chosen);
    }
    ListMerge::Outcome outcome;
    view->KeepingPlace([&] { outcome = document->applyMerge(prepared, choices); });
    if (record)
        record->merged.push_back(
            {absolute(fileName), prepared.onDisk, view->UndoHistory()->index()});
    return outcome;
}

bool MergeCenter::mergeOwnFile(TfrTasks* view) {
    const QString file = view->ListFileName();
    const std::optional<ListMerge::Outcome> outcome = merge(view, file);
    if (!outcome)
        return false;
    view->DiskBar()->hide();
    view->ShowNote(QStringLiteral("Merged the changes made to %1 on disk (%2).")
                       .arg(shortName(file), counts(*outcome)));
    return true;
}

bool MergeCenter::ConfirmSaveOver(TfrTasks* view, const QString& target) {
    if (!view->document()->changedOnDisk(target))
        return true;
    // Enter keeps both: overwriting would lose what the other program wrote.
    switch (Prompt::ChooseCautiously(
        QStringLiteral("%1 was changed by another program since it was "
                       "opened. Overwrite it with this list?")
            .arg(QDir::toNativeSeparators(target)),
        {QStringLiteral("Overwrite"), QStringLiteral("Merge"), QStringLiteral("Cancel")})) {
    case 0:
        return true;
    case 1:
        // The file may change again while the conflicts are asked: it is merged again (a merge
        // of what was merged already changes nothing), until it holds nothing the list lacks.
        for (int round = 0; round < MergeRounds; ++round) {
            if (!mergeOwnFile(view))
                return false;
            if (!view->document()->changedOnDisk(target))
                return true;
        }
        return ConfirmSaveOver(view, target); // it keeps changing: the user decides again
    default:
        return false;
    }
}

void MergeCenter::MergeWith(TfrTasks* view, const QString& folder) {
    FileDialogRequest request;
    request.filter = QStringLiteral("Corvantis File v1|*.cv1|All Files (*.*)|*.*");
    request.defaultExtension = QStringLiteral("cv1");
    const QString own = view->ListFileName();
    request.directory = own.isEmpty() ? folder : QFileInfo(own).absolutePath();
    request.parent = m_window;
    const QString fileName = Prompt::OpenFileName(request);
    if (fileName.isEmpty())
        return;
    if (absolute(fileName) == absolute(own)) {
        mergeOwnFile(view);
        return;
    }
    // A sync tool's conflict copy merged by hand may go to the trash like one offered.
    const bool conflictCopy =
        !own.isEmpty() && !ConflictCopies::ToolOf(shortName(fileName), shortName(own)).isEmpty() &&
        QFileInfo(fileName).absolutePath() == QFileInfo(own).absolutePath();
    const std::optional<ListMerge::Outcome> outcome =
        merge(view, fileName, conflictCopy ? followed(view) : nullptr);
    if (!outcome)
        return;
    view->ShowNote(
        changedNothing(*outcome)
            ? QStringLiteral("%1 holds no change this list lacks.").arg(shortName(fileName))
            : QStringLiteral("Merged %1 (%2).").arg(shortName(fileName), counts(*outcome)));
}

// --- the sync tools' conflict copies ------------------------------------------------------------

void MergeCenter::Opened(TfrTasks* view) {
    if (!view->ListFileName().isEmpty())
        OfferCopies(view, view->ListFileName());
}

void MergeCenter::OfferCopies(TfrTasks* view, const QString& target) {
    Followed* entry = followed(view);
    if (!entry || target.isEmpty())
        return;
    QStringList copies;
    QStringList lines;
    for (const ConflictCopies::Copy& copy : ConflictCopies::Find(target)) {
        const QString file = absolute(copy.fileName);
        if (entry->offered.contains(file) || entry->hasMerged(file))
            continue;
        copies << file;
        lines << QStringLiteral("%1 (%2)").arg(shortName(file), copy.tool);
    }
    if (copies.isEmpty())
        return;
    // Asked once per copy while the list is open: "Not Now" is an answer too.
    entry->offered << copies;
    const bool one = copies.size() == 1;
    if (Prompt::Choose(QStringLiteral("A sync tool left %1 of %2 beside it:\n\n%3\n\nMerge %4 into "
                                      "this list?")
                           .arg(copiesText(int(copies.size())), shortName(target),
                                lines.join(u'\n'),
                                one ? QStringLiteral("it") : QStringLiteral("them")),
                       {QStringLiteral("Merge"), QStringLiteral("Not Now")}) != 0)
        return;
    QStringList failures;
    int merged = 0;
    for (const QString& copy : copies) {
        try {
            if (!merge(view, copy, entry))
                break; // Cancel in the Conflicts window stops the merges not made yet
        } catch (const CorvantisError& error) {
            failures << error.message();
            continue;
        }
        ++merged;
    }
    if (merged > 0)
        view->ShowNote(QStringLiteral("Merged %1 into the list.").arg(copiesText(merged)));
    if (!failures.isEmpty())
        Prompt::Error(failures.join(u'\n'));
}

void MergeCenter::Saved(TfrTasks* view) {
    Followed* entry = followed(view);
    if (!entry || entry->merged.empty())
        return;
    // Only a copy as it was merged: one changed since holds something the list may lack.
    QStringList copies;
    for (const Followed::Merged& copy : entry->merged)
        if (FileFingerprint::of(copy.file) == copy.onDisk && !copies.contains(copy.file))
            copies << copy.file;
    entry->merged.clear();
    if (copies.isEmpty())
        return;
    QStringList names;
    for (const QString& copy : copies)
        names << shortName(copy);
    const bool one = copies.size() == 1;
    if (Prompt::Choose(
            QStringLiteral("The list now holds what its %1 held:\n\n%2\n\nMove %3 to "
                           "the trash?")
                .arg(one ? QStringLiteral("conflict copy") : QStringLiteral("conflict copies"),
                     names.join(u'\n'), one ? QStringLiteral("it") : QStringLiteral("them")),
            {QStringLiteral("Move to Trash"), QStringLiteral("Keep")}) != 0)
        return;
    // The desktop's trash is made in the user's data folder, which a fresh account may lack.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QStringList left;
    const QString list = view->ListFileName();
    for (const QString& copy : copies) {
        // The file may have been replaced while the question was up (a synced folder): a copy
        // goes only while the file on disk still holds all it holds.
        if (!ConflictCopies::Holds(list, copy) || !QFile::moveToTrash(copy))
            left << QDir::toNativeSeparators(copy);
    }
    if (!left.isEmpty())
        Prompt::Notice(QStringLiteral("These copies were left where they are: the list's file "
                                      "no longer holds all they hold, or the system has no trash "
                                      "there:\n\n%1")
                           .arg(left.join(u'\n')));
}

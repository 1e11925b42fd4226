// The list and the copies of it that other programs write: its own file read again, and another
// copy merged in.
#include "base/CorvantisError.h"
#include "document/ListDocument.h"
#include "document/TaskUndo.h"
#include "model/DataTable.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool sameFile(const QString& a, const QString& b) {
    return !a.isEmpty() && !b.isEmpty() &&
           QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
               QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

// A copy read as a list is read: its messages name the task table.
void readCopy(DataTable& copy, const QString& fileName) {
    TaskTable::Configure(copy);
    DataPacket::LoadFromFile(copy, fileName);
}

} // namespace

void ListDocument::reload() {
    const FileFingerprint onDisk = FileFingerprint::of(m_fileName);
    // Read aside first: a file that cannot be read must not empty the list.
    DataTable fresh;
    readCopy(fresh, m_fileName);
    const QString index = m_table->indexName();
    const QString filter = m_table->filter();
    const bool filtered = m_table->filtered();
    m_table->adopt(fresh.takeContent());
    m_fileOnDisk = onDisk;
    m_undo->clear();
    m_undo->markSaved();
    keepHistoryFloor();
    // The file holds the list, not how it is shown: the order and filter are the user's.
    try {
        m_table->setIndexName(index.isEmpty() ? TaskTable::IndexID : index);
    } catch (const CorvantisError&) {
        m_table->setIndexName(TaskTable::IndexID);
    }
    try {
        if (!filter.isEmpty())
            m_table->setFilter(filter);
        m_table->setFiltered(filtered);
    } catch (const CorvantisError&) {
        // The new file lacks a field the filter names: the list is shown unfiltered.
    }
}

ListDocument::PreparedMerge ListDocument::prepareMerge(const QString& fileName) {
    m_table->settle();
    PreparedMerge merge;
    merge.fileName = fileName;
    merge.onDisk = FileFingerprint::of(fileName);
    DataTable other;
    readCopy(other, fileName);
    merge.plan = ListMerge::Prepare(*m_table, other, fileName);
    return merge;
}

ListMerge::Outcome ListDocument::applyMerge(const PreparedMerge& merge,
                                            const MergeChoices& choices) {
    const std::size_t logBefore = m_table->changeLog().size();
    const std::int64_t counterBefore = m_table->autoIncValue();
    const auto changed = [&] {
        return m_table->changeLog().size() != logBefore || m_table->autoIncValue() != counterBefore;
    };
    ListMerge::Outcome outcome;
    try {
        const TaskUndo::Step step(*m_undo, QStringLiteral("Merge"));
        outcome = ListMerge::Apply(*m_table, merge.plan, choices);
    } catch (...) {
        // What was made before a refusal stays made: the list has changed all the same.
        if (changed())
            markUnsaved();
        throw;
    }
    if (changed())
        markUnsaved();
    if (sameFile(merge.fileName, m_fileName)) {
        m_fileOnDisk = merge.onDisk;
        m_undo->forgetSaved(); // the file no longer holds what the list held when saved
    }
    return outcome;
}

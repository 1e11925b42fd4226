#include "document/ListDocument.h"

#include "base/CorvantisError.h"
#include "base/TextLines.h"
#include "document/TaskUndo.h"
#include "model/DataTable.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "storage/InputFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

ListDocument::ListDocument(QObject* parent) : QObject(parent) {
    m_table = new DataTable(this);
    TaskTable::Configure(*m_table);
    m_table->setAfterInsert([this] { cdsTasksAfterInsert(); });
    m_table->setAfterEdit([this] { cdsTasksAfterEdit(); });
    m_undo = new TaskUndo(m_table, this);
    connect(m_table, &DataTable::changeStored, this,
            [this](DataTable::RowId, std::int32_t, std::int32_t after, bool) {
                if (after >= 0)
                    m_floorVersions = std::max(m_floorVersions, std::size_t(after) + 1);
                m_floorEntries = std::max(m_floorEntries, m_table->changeLog().size() / 3);
            });
    connect(m_table, &DataTable::historyWithdrawn, this,
            [this](std::size_t versions, std::size_t entries) {
                m_floorVersions = versions;
                m_floorEntries = entries;
            });
}

ListDocument::~ListDocument() {
    // The table outlives nothing that still listens to it.
    m_table->setAfterInsert({});
    m_table->setAfterEdit({});
}

void ListDocument::createNew() {
    TaskTable::CreateEmpty(*m_table);
    m_isNew = true;
    started();
    markUnsaved();
}

bool ListDocument::load(const QString& fileName) {
    if (!QFileInfo::exists(fileName))
        return false;
    // Taken before reading: a change made meanwhile is then caught at the next save.
    const FileFingerprint onDisk = FileFingerprint::of(fileName);
    m_loadNotice = DataPacket::LoadFromFile(*m_table, fileName).text(fileName);
    m_fileOnDisk = onDisk;
    setFileName(fileName);
    m_table->first();
    started();
    m_undo->markSaved();
    addOutlineNotice(fileName);
    return true;
}

// A task whose parent is missing, deleted, itself or its own subtask stands at the top level;
// the user hears of it once, and the file stays as it is until something else changes.
void ListDocument::addOutlineNotice(const QString& fileName) {
    const int problems = m_table->outlineProblems();
    if (problems == 0)
        return;
    const QString note =
        QStringLiteral("In the list \"%1\", %2 a parent task that is missing, deleted, the task "
                       "itself or one of its own subtasks. %3 shown at the top level.")
            .arg(InputFile::fullName(fileName),
                 problems == 1 ? QStringLiteral("1 task names")
                               : QStringLiteral("%1 tasks name").arg(problems),
                 problems == 1 ? QStringLiteral("It is") : QStringLiteral("They are"));
    m_loadNotice = m_loadNotice.isEmpty() ? note : m_loadNotice + QStringLiteral("\n\n") + note;
}

void ListDocument::loadRecovered(const QString& copyFile, const QString& originalFile, bool isNew,
                                 const FileFingerprint& original) {
    if (!originalFile.isEmpty() && QDir::isRelativePath(originalFile))
        throw CorvantisError(
            QStringLiteral("Its note names the list file \"%1\" without its folder.")
                .arg(originalFile));
    m_loadNotice = DataPacket::LoadFromFile(*m_table, copyFile).text(originalFile);
    m_isNew = isNew;
    m_fileOnDisk =
        original.isValid() || originalFile.isEmpty() ? original : FileFingerprint::unknown();
    setFileName(originalFile);
    m_table->first();
    started();
    addOutlineNotice(originalFile.isEmpty() ? copyFile : originalFile);
    markUnsaved();
}

void ListDocument::started() {
    m_table->setIndexName(TaskTable::IndexID);
    m_undo->clear();
    keepHistoryFloor();
}

void ListDocument::keepHistoryFloor() {
    m_floorVersions = m_table->versionCount();
    m_floorEntries = m_table->changeLog().size() / 3;
}

void ListDocument::guardHistory() const {
    const std::size_t versions = m_table->heldVersionCount();
    const std::size_t entries = m_table->changeLog().size() / 3;
    if (versions >= m_floorVersions && versions == m_table->versionCount() &&
        entries >= m_floorEntries)
        return;
    const QString message =
        QStringLiteral("Internal error: this save would write %1 versions of the list's tasks "
                       "and %2 changes where it holds %3 and %4. Nothing was written; please "
                       "report this, and keep the list open or save it under another name "
                       "with Save Copy Without History.")
            .arg(versions)
            .arg(entries)
            .arg(std::max(m_floorVersions, m_table->versionCount()))
            .arg(m_floorEntries);
    qWarning("%s", qPrintable(message));
    throw CorvantisError(message);
}

bool ListDocument::changedOnDisk(const QString& target) const {
    return target == m_fileName && m_fileOnDisk.changedOnDisk(target);
}

QString ListDocument::save(const QString& target, bool keepName) {
    const bool ownFile = target == m_fileName;
    m_table->settle();
    guardHistory();
    const QString warning = DataPacket::SaveToFile(*m_table, target);
    if (keepName)
        setFileName(target);
    if (ownFile || keepName) {
        m_fileOnDisk = FileFingerprint::of(target);
        keepHistoryFloor();
    }
    markSaved();
    if (keepName)
        setCaption(uGeneral::CaptionFromFileName(target));
    emit saved(target);
    return warning;
}

void ListDocument::setCaption(const QString& caption) {
    m_caption = caption;
    emit captionChanged(caption);
}

void ListDocument::markUnsaved() {
    setUnsaved(true);
    emit modified();
    if (m_caption && !m_caption->contains(u'*')) {
        m_savedCaption = *m_caption;
        setCaption(*m_caption + QStringLiteral(" *"));
    }
}

void ListDocument::markSaved() {
    m_undo->markSaved();
    setUnsaved(false);
    if (m_caption)
        setCaption(m_savedCaption);
    emit markedSaved();
}

void ListDocument::replayStep(bool redo) {
    const std::size_t before = m_table->changeLog().size();
    const auto changed = [&] { return m_table->changeLog().size() != before; };
    try {
        if (redo)
            m_undo->redo();
        else
            m_undo->undo();
    } catch (...) {
        if (changed())
            markUnsaved();
        throw;
    }
    if (!changed())
        return;
    // The file holds what the list holds again: closing it loses nothing.
    if (m_undo->isAtSaved())
        markSaved();
    else
        markUnsaved();
}

void ListDocument::restoreMarks(const Marks& marks) {
    setUnsaved(marks.unsaved);
    m_savedCaption = marks.savedCaption;
    if (marks.caption && marks.caption != m_caption)
        setCaption(*marks.caption);
}

void ListDocument::setUnsaved(bool unsaved) {
    if (unsaved == m_unsaved)
        return;
    m_unsaved = unsaved;
    emit unsavedChanged(unsaved);
}

void ListDocument::setFileName(const QString& fileName) {
    if (fileName == m_fileName)
        return;
    m_fileName = fileName;
    emit fileNameChanged(fileName);
}

void ListDocument::cdsTasksAfterInsert() {
    TaskTable::ApplyNewRowDefaults(*m_table);
    markUnsaved();
}

void ListDocument::cdsTasksAfterEdit() {
    markUnsaved();
}

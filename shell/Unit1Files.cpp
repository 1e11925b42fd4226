// The life of a list document in the main window: New, Open, Reopen, Save, Save As, Close,
// Close All, Exit and the close box, the copy without history, and the lists recovered after a
// program that did not end normally.
#include "shell/Unit1.h"

#include "base/CorvantisError.h"
#include "base/TextLines.h"
#include "calendar/CalendarFile.h"
#include "dialogs/ufrmReOpen.h"
#include "document/ListDocument.h"
#include "document/ListRecovery.h"
#include "model/DataTable.h"
#include "model/TaskHistory.h"
#include "shell/ListSync.h"
#include "shell/MergeCenter.h"
#include "shell/SyncCenter.h"
#include "storage/CategoryList.h"
#include "storage/DataPacket.h"
#include "storage/SaveFile.h"
#include "view/uFrTasks.h"
#include "widgets/BusyCursor.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTabWidget>

#include <cerrno>
#include <cstring>

void TfrmMain::RecoverLists() {
    const QList<RecoveryStore::Left> left = m_recovery->store().takeOver();
    int recovered = 0;
    QStringList setAside;
    for (const RecoveryStore::Left& copy : left) {
        BusyCursor busy;
        const QScopedValueRollback<bool> quietly(m_activatingPage, true);
        const QString name =
            copy.note.originalFile.isEmpty() ? QStringLiteral("New") : copy.note.originalFile;
        TfrTasks* view = addPage(name);
        QString failure;
        try {
            if (!copy.noteRead)
                throw CorvantisError(QStringLiteral("Its note is missing or unreadable."));
            view->InitRecovered(copy.copyFile, copy.note.originalFile, copy.note.isNew,
                                copy.note.original);
        } catch (const CorvantisError& error) {
            failure = error.message();
        }
        if (!failure.isEmpty()) {
            closePage(PageControl1->indexOf(view->parentWidget()));
            const QString of = copy.note.originalFile.isEmpty()
                                   ? QString()
                                   : QStringLiteral(" of %1").arg(
                                         QDir::toNativeSeparators(copy.note.originalFile));
            setAside << QStringLiteral(
                            "A recovery copy%1 could not be read. It was kept in\n%2\n%3")
                            .arg(of, QDir::toNativeSeparators(m_recovery->store().setAside(copy)),
                                 failure);
            continue;
        }
        m_recovery->follow(view->document(), copy.id);
        m_syncCenter->AddList(view);
        view->SetCategoryChoices(m_categories ? m_categories->lines() : QStringList());
        remindOf(view);
        PageControl1->show();
        PageControl1->setCurrentWidget(view->parentWidget());
        ++recovered;
    }
    if (recovered > 0)
        Prompt::Notice(QStringLiteral("Corvantis did not end normally. Unsaved changes to %1 "
                                      "list(s) were recovered.")
                           .arg(recovered));
    for (const QString& message : setAside)
        Prompt::Notice(message);
}

void TfrmMain::recoveryWriteFailed(const QString& folder, const QString& reason) {
    if (m_recoveryFailureTold)
        return;
    m_recoveryFailureTold = true;
    auto* label = new QLabel(
        QStringLiteral("Unsaved changes are not protected: no recovery copy can be written."),
        statusBar());
    label->setObjectName(QStringLiteral("RecoveryWarning"));
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->addPermanentWidget(label);
    Prompt::Notice(QStringLiteral("Unsaved changes are not protected against a crash: recovery "
                                  "copies cannot be written in\n%1\n%2")
                       .arg(QDir::toNativeSeparators(folder), reason));
}

void TfrmMain::OpenTaskList(const QString& fileName) {
    requireExistingFile(fileName);
    PageControl1->show();
    addTitledTab(QStringLiteral("Corvantis - "), fileName);
}

void TfrmMain::addTitledTab(const QString& titlePrefix, const QString& fileName) {
    // A list that fails to load leaves the title naming the list shown before.
    const QString before = windowTitle();
    setWindowTitle(titlePrefix + uGeneral::CaptionFromFileName(fileName));
    try {
        AddListTab(fileName, false);
    } catch (...) {
        setWindowTitle(before);
        throw;
    }
}

void TfrmMain::addRecent(const QString& fileName) {
    if (frmReOpen)
        frmReOpen->AddRecent(fileName);
}

// --- the file dialogs ------------------------------------------------------------------------

FileDialogRequest TfrmMain::OpenDialog1(const QString& folder) {
    FileDialogRequest request;
    request.filter = QStringLiteral("Corvantis File v1|*.cv1|All Files (*.*)|*.*");
    request.defaultExtension = QStringLiteral("cv1");
    request.directory = folder;
    return request;
}

FileDialogRequest TfrmMain::SaveDialog1() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Corvantis|*.cv1|All Files (*.*)|*.*");
    request.defaultExtension = QStringLiteral("cv1");
    return request;
}

// --- commands --------------------------------------------------------------------------------

void TfrmMain::actNewExecute() {
    PageControl1->show();
    setWindowTitle(QStringLiteral("Corvantis - New"));
    AddListTab(QStringLiteral("New"), true);
}

void TfrmMain::actOpenExecute() {
    FileDialogRequest request = OpenDialog1(m_listFolder);
    request.parent = this;
    const QString fileName = Prompt::OpenFileName(request);
    if (fileName.isEmpty())
        return;
    OpenListFile(fileName);
}

void TfrmMain::OpenListFile(const QString& fileName) {
    requireExistingFile(fileName);
    PageControl1->show();
    addTitledTab(QStringLiteral("Corvantis - "), fileName);
    addRecent(fileName);
}

void TfrmMain::actReopenExecute() {
    if (!frmReOpen || frmReOpen->exec() != QDialog::Accepted)
        return;
    PageControl1->show();
    const QString fileName = frmReOpen->SelectedFile();
    if (fileName.trimmed().isEmpty())
        return;
    requireExistingFile(fileName);
    addTitledTab(QStringLiteral("Corvantis- "), fileName);
    addRecent(fileName);
}

bool TfrmMain::saveViewTo(TfrTasks* view, const QString& fileName, int options) {
    ListDocument* document = view->document();
    QString target = fileName;
    if (target.trimmed().isEmpty()) {
        FileDialogRequest request = SaveDialog1();
        request.parent = this;
        target = Prompt::SaveFileName(request);
        if (target.isEmpty())
            return false;
        if ((options & AskOverwrite) && QFileInfo::exists(target) &&
            !Prompt::Question(QStringLiteral("File already exists! Overwrite ?")))
            return false;
    }
    // The list's own file may have been changed by another program since it was read or saved.
    if (!m_merge->ConfirmSaveOver(view, target))
        return false;
    if (options & KeepName)
        m_merge->OfferCopies(view, target);
    const QString warning = document->save(target, options & KeepName);
    addRecent(target);
    if (options & KeepName)
        m_merge->Saved(view);
    if (!warning.isEmpty())
        Prompt::Notice(warning);
    return true;
}

void TfrmMain::actSaveExecute() {
    TfrTasks* view = requireActiveView();
    saveViewTo(view, view->ListFileName(), KeepName | AskOverwrite);
}

void TfrmMain::actSaveAsExecute() {
    saveViewTo(requireActiveView(), QString(), KeepName | AskOverwrite);
}

void TfrmMain::actMergeWithExecute() {
    m_merge->MergeWith(requireActiveView(), m_listFolder);
}

void TfrmMain::closePage(int index) {
    const QScopedValueRollback<bool> quietly(m_activatingPage, true);
    if (TfrTasks* view = viewAt(index))
        m_recovery->closing(view->document());
    QWidget* page = PageControl1->widget(index);
    PageControl1->removeTab(index);
    delete page;
}

void TfrmMain::actCloseExecute() {
    TfrTasks* view = requireActiveView();
    // The questions below let events through (a reminder may show another tab): the page asked
    // about is the one closed.
    const QPointer<QWidget> page = view->parentWidget();
    // Every unsaved list is asked about, not only new ones: closing must not drop work silently.
    // A merge leaves a list unsaved too, with nothing typed.
    if (view->Unsaved()) {
        // Escape or the close box keeps the list open and unsaved: closing must not drop work
        // the user did not choose to drop.
        switch (Prompt::YesNoCancel(QStringLiteral("Save changes ?"))) {
        case Prompt::Answer::Yes:
            // Once saved it closes; a save not made (its dialog cancelled, Cancel at the question
            // over a changed file or in the Conflicts window) keeps it open.
            if (!page || !saveViewTo(view, view->ListFileName(), KeepName | AskOverwrite))
                return;
            break;
        case Prompt::Answer::Cancel:
            return;
        case Prompt::Answer::No:
            break;
        }
    }
    if (page)
        closePage(PageControl1->indexOf(page));
}

void TfrmMain::CloseAll1Click() {
    // A list that was never saved has no file to go to: the save dialog asks for one.
    for (int index = PageControl1->count() - 1; index >= 0; --index) {
        TfrTasks* view = viewAt(index);
        if (view && view->Unsaved() && !saveViewTo(view, view->ListFileName(), PlainSave))
            return;
        closePage(index);
    }
}

// A file chosen here is written but not kept as the list's name (PlainSave).
bool TfrmMain::QuerySaveAll() {
    for (int index = 0; index < PageControl1->count(); ++index) {
        TfrTasks* view = viewAt(index);
        if (!view || !view->Unsaved())
            continue;
        const Prompt::Answer answer =
            Prompt::YesNoCancel(view->Caption() + QStringLiteral(" - Save changes ?"));
        if (answer == Prompt::Answer::Cancel)
            return false;
        if (answer == Prompt::Answer::No)
            continue;
        if (!saveViewTo(view, view->ListFileName(), PlainSave))
            return false;
    }
    return true;
}

void TfrmMain::actExitExecute() {
    if (!QuerySaveAll())
        return;
    m_exitConfirmed = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // The close box asks the same questions as Exit, so unsaved work is never dropped silently.
    bool mayEnd = m_exitConfirmed;
    if (!mayEnd)
        runCommand([&] { mayEnd = QuerySaveAll(); });
    m_exitConfirmed = false;
    if (!mayEnd) {
        event->ignore();
        return;
    }
    if (frmReOpen)
        frmReOpen->writeRecentAtExit();
    m_recovery->endNormally();
    event->accept();
}

void TfrmMain::actSaveCopyExecute() {
    TfrTasks* view = requireActiveView();
    FileDialogRequest request = SaveDialog1();
    request.parent = this;
    request.title = QStringLiteral("Save Copy Without History");
    if (QDir::isAbsolutePath(view->ListFileName()))
        request.directory = QFileInfo(view->ListFileName()).absolutePath();
    const QString target = Prompt::SaveFileName(request);
    if (target.isEmpty())
        return;
    // A copy over an open list's file would take that list's history and leave the list
    // believing its file was changed by another program.
    if (tabOfFile(target) >= 0)
        throw CorvantisError(
            QStringLiteral("%1 is the file of an open list. Save the copy under another name.")
                .arg(QDir::toNativeSeparators(target)));
    if (QFileInfo::exists(target) &&
        !Prompt::Question(QStringLiteral("File already exists! Overwrite ?")))
        return;
    DataTable* table = view->cdsTasks();
    table->settle();
    DataTable copy;
    copy.setObjectName(table->objectName());
    copy.adopt(TaskHistory::withoutHistory(*table));
    const QString warning = DataPacket::SaveToFile(copy, target);
    if (!warning.isEmpty())
        Prompt::Notice(warning);
}

void TfrmMain::actExportICalExecute() {
    TfrTasks* view = requireActiveView();
    const QString list = view->ListFileName();
    FileDialogRequest request;
    request.filter = QStringLiteral("iCalendar|*.ics|All Files (*.*)|*.*");
    request.defaultExtension = QStringLiteral("ics");
    request.parent = this;
    // The list's name beside the list, as a saved list's copies go.
    const bool saved = QDir::isAbsolutePath(list);
    request.directory = saved ? QFileInfo(list).absolutePath() : m_listFolder;
    request.fileName = (saved ? QFileInfo(list).completeBaseName() : QStringLiteral("New")) +
                       QStringLiteral(".ics");
    const QString target = Prompt::SaveFileName(request);
    if (target.isEmpty() || (QFileInfo::exists(target) &&
                             !Prompt::Question(QStringLiteral("File already exists! Overwrite ?"))))
        return;
    const BusyCursor busy;
    DataTable* table = view->cdsTasks();
    table->settle();
    // A saved list's file names it, so its tasks keep their UIDs from one export to the next;
    // a synced task goes out as the sync writes it, with what other clients put on it.
    const ListSync* sync = SyncCenter::SyncOf(view);
    const QString warning = SaveFile::Save(
        target,
        CalendarFile::Write(*table, list.isEmpty() ? list : QFileInfo(list).absoluteFilePath(),
                            sync ? sync->syncedObjects() : QHash<QString, QByteArray>()));
    if (!warning.isEmpty()) {
        Prompt::Notice(warning);
        return;
    }
    const auto count = static_cast<int>(table->naturalOrder().size());
    const QString shown = QDir::toNativeSeparators(target);
    view->ShowNote(count == 1 ? QStringLiteral("Exported 1 task to %1.").arg(shown)
                              : QStringLiteral("Exported %1 tasks to %2.").arg(count).arg(shown));
}

// The links of a task to a related file, a web address and another list: set through the file
// dialogs and the URL window, followed through the desktop or a new tab.
#include "base/DatesAndClock.h"
#include "base/TextLines.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "view/uFrTasks.h"
#include "widgets/BusyCursor.h"
#include "widgets/DesktopShell.h"
#include "widgets/Prompt.h"

#include <QDir>
#include <QFileInfo>

using namespace TaskRecord;

FileDialogRequest TfrTasks::AllFilesDialog() {
    FileDialogRequest request;
    request.filter = QStringLiteral("All Files (*.*)|*.*");
    request.directory = m_allFilesFolder;
    request.parent = this;
    return request;
}

FileDialogRequest TfrTasks::ListFileDialog() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Corvantis List|*.cv1");
    request.directory = m_listFilesFolder;
    request.parent = this;
    return request;
}

void TfrTasks::linkField(const QString& field, const FileDialogRequest& request, QString* folder,
                         bool stampLastActioned) {
    command(
        [&] {
            const QString fileName = Prompt::OpenFileName(request);
            if (fileName.isEmpty())
                return;
            *folder = uGeneral::FolderPart(fileName);
            m_cdsTasks->edit();
            m_cdsTasks->setString(field, fileName);
            if (stampLastActioned)
                m_cdsTasks->setDate(LastActioned, uGeneral::Today());
            m_cdsTasks->post();
            MarkUnsaved();
        },
        field == RelatedFile ? QStringLiteral("Link to Related File")
                             : QStringLiteral("Link to Task List"));
}

void TfrTasks::LinktoFile1Click() {
    linkField(RelatedFile, AllFilesDialog(), &m_allFilesFolder, false);
}

void TfrTasks::Link1Click() {
    linkField(LinkedList, ListFileDialog(), &m_listFilesFolder, false);
}

void TfrTasks::ToolButton9Click() {
    linkField(LinkedList, AllFilesDialog(), &m_allFilesFolder, true);
}

void TfrTasks::LinktoURL1Click() {
    command(
        [&] {
            if (!m_services.askUrl)
                return;
            const std::optional<QString> url = m_services.askUrl();
            if (!url)
                return;
            m_cdsTasks->edit();
            m_cdsTasks->setString(URL, *url);
            m_cdsTasks->post();
            MarkUnsaved();
        },
        QStringLiteral("Link to URL"));
}

void TfrTasks::openTrimmed(const QString& field, const std::function<void(const QString&)>& open) {
    command([&] {
        const QString target = uGeneral::TrimBlanksAndControls(m_cdsTasks->asString(field));
        if (target.isEmpty() || !open)
            return;
        const BusyCursor busy;
        open(target);
    });
}

void TfrTasks::OpenRelatedFile1Click() {
    // A relative path is the list's neighbour, wherever the program was started.
    const QString list = ListFileName();
    const QString folder = QDir::isAbsolutePath(list) ? QFileInfo(list).absolutePath() : QString();
    openTrimmed(RelatedFile,
                [&folder](const QString& target) { DesktopShell::Open(target, folder); });
}

void TfrTasks::OpenURL1Click() {
    openTrimmed(URL, [](const QString& target) { DesktopShell::Open(target); });
}

void TfrTasks::OpenLinkedTaskList1Click() {
    openTrimmed(LinkedList, m_services.openTaskList);
}

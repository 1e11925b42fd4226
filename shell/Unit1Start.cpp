// The main window as a desktop program: the start page shown while no list is open, and a list
// file asked for again (a second start, the command line) shown where it is open already.
#include "shell/StartPage.h"
#include "shell/Unit1.h"
#include "view/uFrTasks.h"

#include <QBoxLayout>
#include <QDir>
#include <QFileInfo>
#include <QTabWidget>

void TfrmMain::buildStartPage(QBoxLayout* layout) {
    m_startPage = new StartPage(centralWidget());
    m_startPage->SetCommands(actNew, actOpen, actReopen);
    connect(m_startPage, &StartPage::recentListChosen, this,
            [this](const QString& fileName) { runCommand([&] { OpenListFile(fileName); }); });
    layout->addWidget(m_startPage, 1);
    // The first tab takes its place, and it comes back with the last one closed. The tab strip
    // goes with the last tab: a strip of no tab would only be an empty, nameless stop for a
    // screen reader (a tab strip is named by its current tab).
    const auto follow = [this, layout] {
        const bool empty = PageControl1->count() == 0;
        m_startPage->setVisible(empty);
        PageControl1->setVisible(!empty);
        layout->setStretchFactor(PageControl1, empty ? 0 : 1);
    };
    connect(PageControl1, &QTabWidget::currentChanged, m_startPage, follow);
    follow();
}

int TfrmMain::tabOfFile(const QString& fileName) const {
    const QFileInfo wanted(fileName);
    for (int index = 0; index < PageControl1->count(); ++index) {
        const TfrTasks* view = viewAt(index);
        if (view && QDir::isAbsolutePath(view->ListFileName()) &&
            QFileInfo(view->ListFileName()) == wanted)
            return index;
    }
    return -1;
}

bool TfrmMain::ShowOpenList(const QString& fileName) {
    const int index = tabOfFile(fileName);
    if (index < 0)
        return false;
    PageControl1->setCurrentIndex(index);
    PageControl1Change(index); // as when the user picks the tab: the title names it
    return true;
}

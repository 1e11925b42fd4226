#include "shell/StartPage.h"

#include "base/TextLines.h"
#include "model/DataTable.h"
#include "storage/RecentLists.h"
#include "widgets/DialogParts.h"
#include "widgets/Icons.h"
#include "widgets/ProgramColours.h"
#include "widgets/SurfaceColours.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A flat button with a picture and a caption, the width of the page's column.
QToolButton* addEntry(QVBoxLayout* column, const QString& name, const QIcon& icon,
                      const QString& caption) {
    auto* button = new QToolButton(column->parentWidget());
    button->setObjectName(name);
    button->setIcon(icon);
    button->setIconSize(QSize(22, 22));
    button->setText(DialogParts::Verbatim(caption));
    button->setAccessibleName(caption);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addWidget(button);
    return button;
}

QLabel* addTitle(QWidget* page, QVBoxLayout* column, const QString& name, const QString& text,
                 qreal scale) {
    auto* title = new QLabel(text, page);
    title->setObjectName(name);
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * scale);
    title->setFont(font);
    column->addWidget(title);
    return title;
}

} // namespace

StartPage::StartPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("StartPage"));
    // It stands on the window's own colour: its captions and flat buttons go with it.
    SurfaceColours::FixWithButtons(*this, ProgramColours::ViewBackground);

    auto* outer = new QHBoxLayout(this);
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    outer->addStretch(1);
    outer->addLayout(column, 2);
    outer->addStretch(1);

    column->addStretch(1);
    addTitle(this, column, QStringLiteral("lblNoList"), QStringLiteral("No list is open"), 1.6);
    auto* hint = new QLabel(QStringLiteral("Start a new list, or open one you keep."), this);
    hint->setObjectName(QStringLiteral("lblStartHint"));
    column->addWidget(hint);
    column->addSpacing(8);
    m_commands = new QVBoxLayout;
    column->addLayout(m_commands);
    column->addSpacing(16);
    m_recentTitle = addTitle(this, column, QStringLiteral("lblRecentLists"),
                             QStringLiteral("Recent lists"), 1.2);
    m_recent = new QVBoxLayout;
    column->addLayout(m_recent);
    column->addStretch(2);
    m_recentTitle->hide();
}

void StartPage::SetCommands(QAction* newList, QAction* open, QAction* reopen) {
    const QList<QPair<const char*, QAction*>> commands{
        {"btnStartNew", newList}, {"btnStartOpen", open}, {"btnStartReopen", reopen}};
    for (const auto& [name, action] : commands) {
        // The command's name and its key, as the menu shows them.
        QString caption = action->iconText();
        const QKeySequence key = action->shortcut();
        if (!key.isEmpty())
            caption += QStringLiteral(" (%1)").arg(key.toString(QKeySequence::NativeText));
        QToolButton* button = addEntry(m_commands, QLatin1String(name), action->icon(), caption);
        connect(button, &QToolButton::clicked, action, &QAction::trigger);
    }
}

void StartPage::SetRecentLists(const RecentLists* store) {
    m_store = store;
    if (m_store)
        connect(m_store, &RecentLists::changed, this, [this] {
            if (isVisible())
                showRecent();
        });
    showRecent();
}

void StartPage::showEvent(QShowEvent* event) {
    // Files come and go while no one looks: what is offered is checked when the page shows.
    showRecent();
    QWidget::showEvent(event);
}

void StartPage::showRecent() {
    while (QLayoutItem* item = m_recent->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_recentFiles.clear();
    if (m_store) {
        const DataTable& table = m_store->table();
        const int file = table.fieldIndex(QStringLiteral("File"));
        for (const DataTable::RowId row : table.allRows()) {
            if (m_recentFiles.size() == RecentShown)
                break;
            const QString fileName = table.textOf(table.rowData(row), file);
            if (!fileName.trimmed().isEmpty() && !RecentLists::fileIsMissing(fileName))
                m_recentFiles << fileName;
        }
    }
    for (int i = 0; i < m_recentFiles.size(); ++i) {
        const QString& fileName = m_recentFiles[i];
        const QFileInfo info(fileName);
        QToolButton* button = addEntry(m_recent, QStringLiteral("btnRecent%1").arg(i + 1),
                                       ThemeIcon(QStringLiteral("application-x-corvantis-list")),
                                       QStringLiteral("%1  (%2)")
                                           .arg(uGeneral::CaptionFromFileName(fileName),
                                                QDir::toNativeSeparators(info.absolutePath())));
        button->setToolTip(QDir::toNativeSeparators(fileName));
        connect(button, &QToolButton::clicked, this,
                [this, fileName] { emit recentListChosen(fileName); });
    }
    m_recentTitle->setVisible(!m_recentFiles.isEmpty());
}

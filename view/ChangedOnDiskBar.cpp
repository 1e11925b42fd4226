#include "view/ChangedOnDiskBar.h"

#include "widgets/Icons.h"
#include "widgets/ProgramColours.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

ChangedOnDiskBar::ChangedOnDiskBar(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("pnlChangedOnDisk"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ProgramColours::TaskOnHold);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imgChangedOnDisk"));
    icon->setPixmap(ThemeIcon(QStringLiteral("dialog-warning")).pixmap(16, 16));
    lblChangedOnDisk = new QLabel(this);
    lblChangedOnDisk->setObjectName(QStringLiteral("lblChangedOnDisk"));
    lblChangedOnDisk->setTextFormat(Qt::PlainText);
    btnMergeChanges = new QPushButton(QStringLiteral("Merge"), this);
    btnMergeChanges->setObjectName(QStringLiteral("btnMergeChanges"));
    btnIgnoreChanges = new QPushButton(QStringLiteral("Ignore"), this);
    btnIgnoreChanges->setObjectName(QStringLiteral("btnIgnoreChanges"));
    for (QPushButton* button : {btnMergeChanges, btnIgnoreChanges}) {
        button->setAutoDefault(false);
        button->setFixedSize(std::max(75, button->sizeHint().width()), 23);
    }

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->setSpacing(6);
    layout->addWidget(icon);
    layout->addWidget(lblChangedOnDisk, 1);
    layout->addWidget(btnMergeChanges);
    layout->addWidget(btnIgnoreChanges);

    connect(btnMergeChanges, &QPushButton::clicked, this, &ChangedOnDiskBar::mergeClicked);
    connect(btnIgnoreChanges, &QPushButton::clicked, this, [this] {
        hide();
        emit ignoreClicked();
    });
    hide();
}

void ChangedOnDiskBar::ShowFor(const QString& fileName) {
    lblChangedOnDisk->setText(
        QStringLiteral("%1 was changed on disk, and some of its changes conflict with this list's.")
            .arg(QFileInfo(fileName).fileName()));
    show();
}

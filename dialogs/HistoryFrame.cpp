#include "dialogs/HistoryFrame.h"

#include "widgets/DecorativeStrip.h"
#include "widgets/DialogParts.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

HistoryFrame HistoryFrame::layOut(QDialog& window, const QString& headingName, QWidget* body,
                                  const QString& restoreCaption, int restoreWidth) {
    HistoryFrame frame;
    frame.heading = new QLabel(&window);
    frame.heading->setObjectName(headingName);
    frame.heading->setContentsMargins(8, 6, 8, 6);
    frame.heading->setTextFormat(Qt::PlainText);

    auto* bar = new DecorativeStrip(&window);
    bar->setObjectName(QStringLiteral("pnlButtons"));
    bar->setFixedHeight(41);
    frame.restore =
        DialogParts::AddButton(bar, QStringLiteral("btnRestore"), restoreCaption, {24, 8});
    frame.restore->resize(restoreWidth, frame.restore->height());
    frame.close = DialogParts::AddButton(bar, QStringLiteral("btnClose"), QStringLiteral("Close"),
                                         {24 + restoreWidth + 5, 8});

    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(frame.heading);
    layout->addWidget(body, 1);
    layout->addWidget(bar);
    return frame;
}

#pragma once

#include <QString>

class QDialog;
class QLabel;
class QPushButton;
class QWidget;

// The frame both history windows share: a line of plain text above their tables (`body`), and
// below them a strip with Restore (with its own caption and width) and Close.
struct HistoryFrame {
    QLabel* heading = nullptr;
    QPushButton* restore = nullptr;
    QPushButton* close = nullptr;

    static HistoryFrame layOut(QDialog& window, const QString& headingName, QWidget* body,
                               const QString& restoreCaption, int restoreWidth);
};

#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

// The bar above a list's grid when another program changed the list's file and the change could
// not be merged in unasked: both changed the same thing. Merge brings the change in (the
// conflicts window asks), Ignore hides the bar; a later save over the file still asks. Hidden
// until shown for a file.
class ChangedOnDiskBar : public QFrame {
    Q_OBJECT
public:
    explicit ChangedOnDiskBar(QWidget* parent = nullptr);

    void ShowFor(const QString& fileName);

signals:
    void mergeClicked();
    void ignoreClicked();

private:
    QLabel* lblChangedOnDisk;
    QPushButton* btnMergeChanges;
    QPushButton* btnIgnoreChanges;
};

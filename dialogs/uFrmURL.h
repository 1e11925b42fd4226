#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QLineEdit;
class QPushButton;
class QToolButton;

// The URL window: the web address for a task, with a short text about the page (its description
// or title) fetched on request, or when the focus enters the empty Text box. Both boxes keep their
// texts from one use to the next; only the address is read by the opener.
class TfrmURL : public QDialog {
    Q_OBJECT
public:
    explicit TfrmURL(QWidget* parent = nullptr);

    // Shows the window modally; the URL box's text, untrimmed, when it closed with OK.
    std::optional<QString> ask();

    QString url() const;
    QString pageText() const;

    // The fetch button: the Text box gets the fetched page's description or title, or is
    // emptied when there is none (or the page could not be read).
    void SpeedButton1Click();
    // The focus entered the Text box: fetch when it is empty.
    void edtTextEnter();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edtURL = nullptr;
    QLineEdit* edtText = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QPushButton* btnCancel = nullptr;
    bool m_fetching = false;
    bool m_justShown = false;
};

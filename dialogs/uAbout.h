#pragma once

#include <QDialog>
#include <QString>

class QLabel;

// The About window: the program's name, version and the maker's addresses. It has no buttons;
// its close box (or Escape) closes it. A click on the web address opens it in the browser.
class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    // The maker's web address as shown, and the address it opens.
    static QString webAddress() { return QStringLiteral("www.corvantis.org"); }
    static QString webAddressUrl() { return QStringLiteral("https://www.corvantis.org"); }
    static QString emailAddress() { return QStringLiteral("info@corvantis.org"); }

    void lblWebAddressClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* lblWebAddress = nullptr;
};

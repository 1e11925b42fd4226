#include "dialogs/uFrmURL.h"

#include "dialogs/WebFetch.h"
#include "dialogs/WebPage.h"
#include "shell/ErrorBox.h"

#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

TfrmURL::TfrmURL(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmURL"));
    setWindowTitle(QStringLiteral("URL"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);
    setFixedSize(883, 119);

    auto* urlLabel = new QLabel(QStringLiteral("URL"), this);
    urlLabel->setObjectName(QStringLiteral("lblURL"));
    urlLabel->move(16, 40);
    urlLabel->adjustSize();
    edtURL = new QLineEdit(this);
    edtURL->setObjectName(QStringLiteral("edtURL"));
    edtURL->setGeometry(56, 40, 689, 21);
    urlLabel->setBuddy(edtURL);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(752, 40, 23, 22);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setToolTip(QStringLiteral("Fetch the page's description or title"));
    ConnectGuarded(SpeedButton1, &QToolButton::clicked, this, &TfrmURL::SpeedButton1Click);

    auto* textLabel = new QLabel(QStringLiteral("Text"), this);
    textLabel->setObjectName(QStringLiteral("lblText"));
    textLabel->move(16, 64);
    textLabel->adjustSize();
    edtText = new QLineEdit(this);
    edtText->setObjectName(QStringLiteral("edtText"));
    edtText->setGeometry(56, 64, 689, 21);
    edtText->installEventFilter(this);
    textLabel->setBuddy(edtText);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setGeometry(792, 40, 75, 25);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancel->setGeometry(792, 64, 75, 25);
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(edtText, edtURL);
    setTabOrder(edtURL, ok);
    setTabOrder(ok, cancel);
    // The first showing starts in the Text box.
    edtText->setFocus();
}

std::optional<QString> TfrmURL::Ask() {
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return Url();
}

QString TfrmURL::Url() const {
    return edtURL->text();
}

QString TfrmURL::PageText() const {
    return edtText->text();
}

void TfrmURL::SpeedButton1Click() {
    if (m_fetching)
        return;
    m_fetching = true;
    const QString text = WebPage::Extract(WebFetch::Fetch(edtURL->text()));
    m_fetching = false;
    edtText->setText(text);
    edtText->setCursorPosition(0);
}

void TfrmURL::edtTextEnter() {
    if (edtText->text().isEmpty())
        SpeedButton1Click();
}

void TfrmURL::showEvent(QShowEvent* event) {
    m_justShown = true;
    QDialog::showEvent(event);
}

bool TfrmURL::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtText && event->type() == QEvent::FocusIn) {
        // Entering the box: a move from another control, or the start of a showing in it. The
        // window merely getting the activation back, or a menu closing, is no entry.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool entered =
            reason == Qt::ActiveWindowFocusReason ? m_justShown : reason != Qt::PopupFocusReason;
        if (entered)
            QTimer::singleShot(0, this, [this] { RunGuarded([this] { edtTextEnter(); }); });
    }
    if (event->type() == QEvent::FocusIn)
        m_justShown = false;
    return QDialog::eventFilter(watched, event);
}

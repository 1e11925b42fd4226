#include "dialogs/uFrmURL.h"

#include "dialogs/WebFetch.h"
#include "storage/WebPage.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"

#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

TfrmURL::TfrmURL(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmURL"), QStringLiteral("URL"), QSize(883, 119), Frame::Fixed);

    const auto addBox = [this](const QString& name, const QString& caption, int y) {
        QLabel* label = AddLabel(this, QStringLiteral("lbl") + caption, caption, {16, y});
        auto* box = new QLineEdit(this);
        box->setObjectName(name);
        box->setGeometry(56, y, 689, 21);
        label->setBuddy(box);
        return box;
    };
    edtURL = addBox(QStringLiteral("edtURL"), QStringLiteral("URL"), 40);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setIcon(ThemeIcon(QStringLiteral("download")));
    SpeedButton1->setGeometry(752, 40, 23, 22);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setToolTip(QStringLiteral("Fetch the page's description or title"));
    SpeedButton1->setAccessibleName(SpeedButton1->toolTip());
    ConnectGuarded(SpeedButton1, &QToolButton::clicked, this, &TfrmURL::SpeedButton1Click);

    edtText = addBox(QStringLiteral("edtText"), QStringLiteral("Text"), 64);
    edtText->installEventFilter(this);

    QPushButton* ok = AddButton(this, QStringLiteral("btnOK"), QStringLiteral("OK"), {792, 40});
    ok->setDefault(true);
    btnCancel = AddButton(this, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {792, 64});
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(edtText, edtURL);
    setTabOrder(edtURL, ok);
    setTabOrder(ok, btnCancel);
    // The first showing starts in the Text box.
    edtText->setFocus();
}

std::optional<QString> TfrmURL::ask() {
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return url();
}

QString TfrmURL::url() const {
    return edtURL->text();
}

QString TfrmURL::pageText() const {
    return edtText->text();
}

void TfrmURL::SpeedButton1Click() {
    if (m_fetching)
        return;
    m_fetching = true;
    // Cancel, Escape and the close box end a wait for the page at once.
    WebFetch::Escape escape;
    escape.window = this;
    escape.cancelButton = btnCancel;
    const QString text =
        WebPage::Extract(WebFetch::Fetch(edtURL->text(), WebFetch::Limits(), escape));
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

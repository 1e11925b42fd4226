#include "dialogs/uAbout.h"

#include "widgets/DesktopShell.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"
#include "widgets/InterfaceFont.h"
#include "widgets/ProgramColours.h"
#include "widgets/SurfaceColours.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>

namespace {

const QColor Navy(0, 0, 128);

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, int x, int y,
                  const QFont& font, const QColor& color) {
    QLabel* label = DialogParts::AddLabel(parent, name, text, {x, y});
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->adjustSize();
    return label;
}

} // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    DialogParts::SetUp(*this, QStringLiteral("frmAbout"), QStringLiteral("About"), QSize(380, 173),
                       DialogParts::Frame::Fixed);
    // The window keeps its own colours: its navy addresses need a light background in any theme.
    SurfaceColours::Fix(*this, ProgramColours::ViewBackground);
    const QFont font = this->font();

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgIcon"));
    picture->setGeometry(39, 28, 33, 33);
    picture->setPixmap(ThemeIcon(ApplicationId()).pixmap(32, 32));

    QFont titleFont(QStringLiteral("Gill Sans Ultra Bold"));
    titleFont.setPixelSize(35);
    titleFont.setItalic(true);
    titleFont.setBold(true);
    makeLabel(this, QStringLiteral("lblTitle"), QStringLiteral("Corvantis"), 80, 24, titleFont,
              Qt::black);

    const QColor text = palette().color(QPalette::WindowText);
    makeLabel(this, QStringLiteral("lblVersion"), QStringLiteral("Version 1.01 "), 80, 80, font,
              text);
    makeLabel(this, QStringLiteral("lblNotice"),
              QStringLiteral("Free to use and share. No warranty."), 80, 96, font, text);

    QFont linkFont = InterfaceFont::Font(9);
    linkFont.setUnderline(true);
    lblWebAddress =
        makeLabel(this, QStringLiteral("lblWebAddress"), webAddress(), 80, 118, linkFont, Navy);
    // The hand while the mouse is over the address; the default cursor elsewhere.
    lblWebAddress->setCursor(Qt::PointingHandCursor);
    lblWebAddress->installEventFilter(this);

    QFont mailFont = InterfaceFont::Font(8);
    mailFont.setBold(true);
    makeLabel(this, QStringLiteral("lblEmail"), emailAddress(), 80, 136, mailFont, Navy);

    auto* rule = new QFrame(this);
    rule->setObjectName(QStringLiteral("lnRule"));
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(16, 152, 345, 2);
}

void TfrmAbout::lblWebAddressClick() {
    DesktopShell::Open(webAddressUrl());
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblWebAddress && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        lblWebAddress->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        RunGuarded([this] { lblWebAddressClick(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

#include "widgets/DialogParts.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace DialogParts {

void SetUp(QDialog& window, const QString& name, const QString& caption, const QSize& size,
           Frame frame) {
    window.setObjectName(name);
    window.setWindowTitle(caption);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    window.setFont(font);
    const Qt::WindowFlags closeOnly =
        Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    switch (frame) {
    case Frame::Sizeable:
        window.resize(size);
        return;
    case Frame::Fixed:
        window.setWindowFlags(Qt::Dialog | closeOnly);
        break;
    case Frame::Tool:
        window.setWindowFlags(Qt::Tool | closeOnly);
        break;
    }
    window.setFixedSize(size);
}

QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, const QPoint& at) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(at);
    label->adjustSize();
    return label;
}

QPushButton* AddButton(QWidget* parent, const QString& name, const QString& text,
                       const QPoint& at) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(QRect(at, QSize(75, 25)));
    button->setAutoDefault(false);
    return button;
}

} // namespace DialogParts

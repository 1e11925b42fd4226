#include "dialogs/uFrmProgress.h"

#include "base/CorvantisError.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <optional>

namespace {

// A whole decimal number: blanks around it, an optional sign, digits; nothing else.
std::optional<int> wholeNumber(const QString& text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    if (i == t.size())
        return std::nullopt;
    for (qsizetype k = i; k < t.size(); ++k)
        if (t[k] < u'0' || t[k] > u'9')
            return std::nullopt;
    bool ok = false;
    const int value = t.toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

} // namespace

TfrmProgress::TfrmProgress(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmProgress"), QStringLiteral("Progress"), QSize(120, 259),
          Frame::Tool);

    const struct {
        int value;
        int y;
    } presets[] = {{10, 15}, {25, 40}, {33, 64}, {50, 88}, {66, 112}, {75, 136}};
    for (const auto& preset : presets) {
        QPushButton* button = AddButton(this, QStringLiteral("btn%1").arg(preset.value),
                                        QStringLiteral("%1%").arg(preset.value), {24, preset.y});
        const int value = preset.value;
        connect(button, &QPushButton::clicked, this,
                [this, value] { RunGuarded([&] { PresetClick(value); }); });
    }

    QLabel* label =
        AddLabel(this, QStringLiteral("lblSpecify"), QStringLiteral("Specify"), {24, 172});

    edtSpecify = new QLineEdit(QString::number(m_position), this);
    edtSpecify->setObjectName(QStringLiteral("edtSpecify"));
    edtSpecify->setGeometry(61, 168, 23, 21);
    edtSpecify->setTextMargins(0, 0, 0, 0);
    edtSpecify->installEventFilter(this);
    label->setBuddy(edtSpecify);

    // The up-down arrows attached to the box: two halves of one 16 x 21 control.
    auto* arrows = new QWidget(this);
    arrows->setObjectName(QStringLiteral("udSpecify"));
    arrows->setGeometry(84, 168, 16, 21);
    const struct {
        const char* name;
        Qt::ArrowType arrow;
        int y;
        int height;
        int delta;
    } halves[] = {{"udSpecifyUp", Qt::UpArrow, 0, 11, 1},
                  {"udSpecifyDown", Qt::DownArrow, 11, 10, -1}};
    for (const auto& half : halves) {
        auto* button = new QToolButton(arrows);
        button->setObjectName(QLatin1String(half.name));
        button->setArrowType(half.arrow);
        button->setAccessibleName(half.delta > 0 ? QStringLiteral("Up") : QStringLiteral("Down"));
        button->setGeometry(0, half.y, 16, half.height);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        const int delta = half.delta;
        connect(button, &QToolButton::clicked, this,
                [this, delta] { RunGuarded([&] { step(delta); }); });
    }

    // A wider face moves the box and its arrows right rather than cut "Specify".
    PlaceInRow({{label, 24, Natural}, {edtSpecify, 61, 23}, {arrows, 84, 16}});

    QPushButton* apply =
        AddButton(this, QStringLiteral("btnApply"), QStringLiteral("Apply"), {24, 216});
    apply->setDefault(true); // Enter in the Specify box applies it
    ConnectGuarded(apply, &QPushButton::clicked, this, &TfrmProgress::btnApplyClick);
}

int TfrmProgress::ask(int start) {
    setValue(start);
    exec();
    return value();
}

std::optional<int> TfrmProgress::askApplied(int start) {
    const int value = ask(start);
    if (result() != QDialog::Accepted)
        return std::nullopt;
    return value;
}

void TfrmProgress::PresetClick(int value) {
    m_value = value;
    accept();
}

void TfrmProgress::btnApplyClick() {
    // A refused text is reported, and the window closes all the same.
    RunGuarded([this] {
        const QString text = edtSpecify->text();
        const std::optional<int> value = wholeNumber(text);
        if (!value)
            throw CorvantisError(QStringLiteral("'%1' is not a valid integer value").arg(text));
        m_value = *value;
    });
    accept();
}

void TfrmProgress::step(int delta) {
    // The arrows start from the number in the box, taken within their range: after a typed 150
    // the up arrow gives 100 and the down arrow 99.
    const std::optional<int> typed = wholeNumber(edtSpecify->text());
    const int from = std::clamp(typed.value_or(m_position), Lowest, Highest);
    m_position = std::clamp(from + delta, Lowest, Highest);
    edtSpecify->setText(QString::number(m_position));
}

bool TfrmProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtSpecify && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            RunGuarded([&] { step(key == Qt::Key_Up ? 1 : -1); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

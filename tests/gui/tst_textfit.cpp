#include "dialogs/uFrmDetails.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"
#include "widgets/InterfaceFont.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

QString withoutMnemonic(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
}

// Whether any other visible widget beside `widget` covers part of `area` (in the parent's
// coordinates).
QString coveredBy(const QWidget* widget, const QRect& area) {
    const QWidget* parent = widget->parentWidget();
    if (!parent)
        return QString();
    for (const QObject* object : parent->children()) {
        const auto* sibling = qobject_cast<const QWidget*>(object);
        if (!sibling || sibling == widget || !sibling->isVisible() || sibling->isWindow())
            continue;
        if (sibling->geometry().intersects(area))
            return sibling->objectName().isEmpty()
                       ? QString::fromLatin1(sibling->metaObject()->className())
                       : sibling->objectName();
    }
    return QString();
}

// What does not fit in one window: "name: text (needs N, has M)" lines.
QStringList clipped(const QWidget* window) {
    QStringList found;
    auto report = [&](const QWidget* widget, const QString& text, int need, int space) {
        if (need > space)
            found << QStringLiteral("%1 \"%2\": needs %3, has %4")
                         .arg(widget->objectName(), text)
                         .arg(need)
                         .arg(space);
    };
    const QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (const QWidget* widget : widgets) {
        if (!widget->isVisible() || widget->window() != window)
            continue;
        const QFontMetrics metrics = widget->fontMetrics();
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            if (label->text().isEmpty() || label->wordWrap() || Qt::mightBeRichText(label->text()))
                continue;
            const QString text = withoutMnemonic(label->text());
            const int need = metrics.horizontalAdvance(text);
            int indent = label->indent();
            if (indent < 0)
                indent = label->frameWidth() > 0 ? metrics.horizontalAdvance(u'x') / 2 : 0;
            const int space = label->contentsRect().width() - 2 * label->margin() - indent;
            report(label, text, need, space);
            // Nothing beside it lies over the text.
            const QRect textArea(label->geometry().left() + label->contentsRect().left() +
                                     label->margin() + indent,
                                 label->geometry().top(), need, label->height());
            const QString cover = coveredBy(label, textArea);
            if (!cover.isEmpty())
                found << QStringLiteral("%1 \"%2\": covered by %3")
                             .arg(label->objectName(), text, cover);
        } else if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
            if (button->text().isEmpty())
                continue;
            QStyleOptionButton option;
            option.initFrom(button);
            option.features = button->autoDefault() || button->isDefault()
                                  ? QStyleOptionButton::AutoDefaultButton
                                  : QStyleOptionButton::None;
            int space = button->style()
                            ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                            .width();
            if (!button->icon().isNull())
                space -= button->iconSize().width() + 4;
            const QString text = withoutMnemonic(button->text());
            report(button, text, metrics.horizontalAdvance(text), space);
        } else if (const auto* tool = qobject_cast<const QToolButton*>(widget)) {
            if (tool->text().isEmpty() || tool->toolButtonStyle() == Qt::ToolButtonIconOnly)
                continue;
            const QString text = withoutMnemonic(tool->text());
            const int overhead = tool->sizeHint().width() - metrics.horizontalAdvance(text);
            report(tool, text, metrics.horizontalAdvance(text),
                   tool->width() - std::max(0, overhead));
        } else if (const auto* header = qobject_cast<const QHeaderView*>(widget)) {
            if (header->orientation() != Qt::Horizontal || !header->model())
                continue;
            for (int section = 0; section < header->count(); ++section) {
                if (header->isSectionHidden(section))
                    continue;
                const QString title =
                    header->model()->headerData(section, Qt::Horizontal).toString();
                const int need = std::max(header->sectionSizeHint(section),
                                          header->fontMetrics().horizontalAdvance(title));
                if (need > header->sectionSize(section))
                    found << QStringLiteral("column \"%1\": needs %2, has %3")
                                 .arg(title)
                                 .arg(need)
                                 .arg(header->sectionSize(section));
            }
        } else if (const auto* box = qobject_cast<const QLineEdit*>(widget)) {
            // The caption boxes of the Details window are labels in a box's clothes.
            if (!box->isReadOnly() || !box->objectName().startsWith(QLatin1String("lbl")))
                continue;
            QRect area = box->geometry();
            for (const QObject* object : box->parentWidget()->children()) {
                const auto* other = qobject_cast<const QWidget*>(object);
                if (other && other != box && other->isVisible() &&
                    other->geometry().intersects(area) && other->x() > area.left())
                    area.setRight(other->x() - 1);
            }
            const QMargins margins = box->textMargins();
            const int frameAndPadding = 4; // the box's frame and its inner margin, on the left
            report(box, box->text(), metrics.horizontalAdvance(box->text()),
                   area.width() - frameAndPadding - margins.left());
        }
    }
    return found;
}

} // namespace

// No caption, label, panel text or column title is cut off, in the interface face the program
// picks and in the wider face a desktop without it falls back to.
class TestTextFit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void everyWindow_data();
    void everyWindow();
};

void TestTextFit::everyWindow_data() {
    QTest::addColumn<QString>("face");
    QTest::newRow("Tahoma") << "Tahoma";
    QTest::newRow("DejaVu Sans") << "DejaVu Sans";
}

void TestTextFit::everyWindow() {
    QFETCH(QString, face);
    // Tahoma is the program's own choice where the face can be had; DejaVu Sans is what a
    // desktop without it falls back to.
    InterfaceFont::SetFamilyForTesting(face == u"Tahoma" ? QString() : face);
    if (QFontInfo(InterfaceFont::Font()).family() != face)
        QSKIP("this face is not installed");
    ScriptedPrompt prompt;
    QTemporaryDir folder;
    auto main = StartCorvantis(folder.path() + u'/');
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    main->findChild<QAction*>(QStringLiteral("actNew"))->trigger();
    TfrTasks* view = main->ActiveTaskView();
    QVERIFY(view);

    QStringList problems = clipped(main.get());
    auto* details = main->findChild<TfrmDetails*>();
    details->setTable(view->cdsTasks());
    details->Rebuild();
    for (QDialog* dialog : main->findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
        if (dialog->objectName().isEmpty())
            continue; // not one of ours
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog))
            problems << dialog->objectName() + QStringLiteral(" never showed");
        for (const QString& problem : clipped(dialog))
            problems << dialog->objectName() + QStringLiteral(": ") + problem;
        dialog->hide();
    }
    main.reset();
    InterfaceFont::SetFamilyForTesting(QString());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
}

QTEST_MAIN(TestTextFit)
#include "tst_textfit.moc"

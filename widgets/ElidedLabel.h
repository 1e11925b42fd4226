#pragma once

#include <QLabel>

// A label of one line that shows as much of its text as its width allows, cut with "…", and
// the whole text, a line each, as its hint when it is cut. Its lines are shown joined by "; ".
// It takes no more room than the layout can spare: a long text never widens its window.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return m_full; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString oneLine() const;
    int lineWidth(const QString& line) const;
    void elide();

    QString m_full;
};

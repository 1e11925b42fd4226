#pragma once

#include <QFrame>

// The strip at the top or bottom of a small window: a soft gradient stretched over its width,
// standing in for a decorative picture, with room for a title or buttons laid out on it.
class DecorativeStrip : public QFrame {
    Q_OBJECT
public:
    explicit DecorativeStrip(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

#pragma once

#include <QFrame>

// A decorative picture stretched over a strip or bar: a gradient in the program's colours,
// drawn under whatever the strip holds (a title, buttons, the controls of a bar). A frame
// shape given to it is drawn over the picture.
class DecorativeStrip : public QFrame {
    Q_OBJECT
public:
    enum class Shade {
        Deep, // the title and button strips of the small windows: dark enough for white text
        Soft, // the bars around a list and the footer: light, under black text and controls
    };
    explicit DecorativeStrip(QWidget* parent = nullptr, Shade shade = Shade::Deep);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Shade m_shade;
};

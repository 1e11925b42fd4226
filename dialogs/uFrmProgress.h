#pragma once

#include <QDialog>

#include <optional>

class QLineEdit;
class QPushButton;
class QToolButton;

// The Progress window: preset percentages and a "Specify" box for a task's progress. The
// opener sets the value, shows the window modally and reads the value back; every button
// closes with OK, the close box (or Escape) with Cancel and the value the opener set. The
// Specify box keeps its text from one showing to the next.
class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget* parent = nullptr);

    void setValue(int value) { m_value = value; }
    int value() const { return m_value; }
    // Sets the value, shows the window modally and returns the value it closed with.
    int ask(int start);
    // As ask, but none when the window was closed without a button (its close box, Escape).
    std::optional<int> askApplied(int start);

    // A preset button: that value, then close with OK.
    void PresetClick(int value);
    // "Apply": the Specify box read as a whole number (any sign and size that fits), then close
    // with OK. Text that is not a whole number is reported and leaves the value as it was.
    void btnApplyClick();
    // The up-down arrows: one step from the number in the box, kept within 0 to 100.
    void step(int delta);

    static constexpr int Lowest = 0;
    static constexpr int Highest = 100;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int m_value = 0;
    int m_position = 85; // the arrows' own position, used while the box holds no number
    QLineEdit* edtSpecify = nullptr;
};

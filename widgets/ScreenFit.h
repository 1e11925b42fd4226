#pragma once

class QWidget;

// Keeps top-level windows within the part of their screen that windows may use (the panels'
// room left out): a window larger than that area is made smaller, and one standing partly
// outside it is moved in, so its title bar and close box can always be reached, at any scale.
namespace ScreenFit {

// Fits the window each time it is shown.
void KeepOnScreen(QWidget& window);
// Fits the window now.
void Fit(QWidget& window);

} // namespace ScreenFit

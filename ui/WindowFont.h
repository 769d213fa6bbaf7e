#pragma once

class QWidget;

namespace kelvara::ui {

// Gives a window the font of all Kelvara windows ("MS Sans Serif", or a sans-serif stand-in of
// the same size where it is missing). The status bar keeps the system's status-bar font.
void ApplyWindowFont(QWidget* window);

} // namespace kelvara::ui

#pragma once

class QWidget;

namespace kelvara::ui {

// Gives a window the font of all Kelvara windows ("MS Sans Serif", or a sans-serif stand-in of
// the same size where it is missing). Call it before the window's controls are created, so that
// they are laid out once, in that font.
void ApplyWindowFont(QWidget* window);

// Gives each status bar of the window the system's status-bar font, made smaller only where a
// fixed-width panel would otherwise cut its text. Call it once the panels exist.
void ApplyStatusBarFont(QWidget* window);

} // namespace kelvara::ui

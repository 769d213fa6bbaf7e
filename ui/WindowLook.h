#pragma once

// What every Kelvara window shares in its look: font and placement.

class QWidget;

namespace kelvara::ui {

// The pixel size of the font carried in the program, which stands in for "MS Sans Serif".
inline constexpr int kCarriedFontPixelSize = 9;

// Registers the program's artwork and font; harmless to call more than once.
void InitResources();

// Gives a window the font of all Kelvara windows ("MS Sans Serif" in its TrueType face, or the
// font carried in the program where it is missing). Call it before the window's controls are created, so that
// they are laid out once, in that font.
void ApplyWindowFont(QWidget* window);

// Gives each status bar of the window the system's status-bar font, made smaller only where a
// fixed-width panel would otherwise cut its text. Call it once the panels exist.
void ApplyStatusBarFont(QWidget* window);

// Places a window, by its current size, in the middle of the primary screen's free area.
void CentreOnDesktop(QWidget* window);

} // namespace kelvara::ui

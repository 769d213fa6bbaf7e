#include "WindowLook.h"

#include <algorithm>

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QWidget>

namespace kelvara::ui {

namespace {

// The windows are laid out to the pixel for "MS Sans Serif" with a 12-pixel character height.
// Where it is missing, Liberation Sans Narrow stands in at the same character height (ascent plus
// descent of 12 pixels, which it reaches at an 11-pixel size): narrow enough for every caption,
// label and list item, and with lines close enough that the longest command list, equals-sign
// rules included, fits the list window, which has no scroll bars. It is named alone: every
// further family or style hint named here is resolved through fontconfig at start-up, which
// costs more than building the rest of the window, while fontconfig's own substitution still
// applies should the font be missing.
QFont MakeWindowFont() {
    QFont font;
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))) {
        font.setFamilies({QStringLiteral("MS Sans Serif")});
        font.setPixelSize(12);
    } else {
        font.setFamilies({QStringLiteral("Liberation Sans Narrow")});
        font.setPixelSize(11);
    }
    return font;
}

// The status bar keeps the system's font, made smaller only where a fixed-width panel would
// otherwise cut its text (system fonts differ in size from one desktop to the next).
QFont StatusBarFont(const QStatusBar* statusBar) {
    QFont font = QApplication::font(statusBar);
    const auto panels = statusBar->findChildren<QLabel*>();
    const auto fits = [&](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        return std::all_of(panels.begin(), panels.end(), [&](const QLabel* panel) {
            return panel->maximumWidth() == QWIDGETSIZE_MAX ||
                   metrics.horizontalAdvance(panel->text()) + 2 * panel->margin() + 6 <=
                       panel->maximumWidth();
        });
    };
    constexpr int kSmallestPixelSize = 8;
    int pixelSize = QFontInfo(font).pixelSize();
    while (!fits(font) && pixelSize > kSmallestPixelSize)
        font.setPixelSize(--pixelSize);
    return font;
}

} // namespace

void ApplyWindowFont(QWidget* window) {
    static const QFont font = MakeWindowFont();
    window->setFont(font);
}

void CentreOnDesktop(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

void ApplyStatusBarFont(QWidget* window) {
    for (auto* statusBar : window->findChildren<QStatusBar*>())
        statusBar->setFont(StatusBarFont(statusBar));
}

} // namespace kelvara::ui

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

// The artwork and the window font are compiled into this static library; register them before
// they are used. (Q_INIT_RESOURCE declares a global function, so this cannot live in a namespace.)
static void InitResourcesOnce() { Q_INIT_RESOURCE(resources); }

namespace kelvara::ui {

void InitResources() {
    static const bool done = (InitResourcesOnce(), true);
    (void)done;
}

namespace {

// The windows are laid out to the pixel for "MS Sans Serif" with a 12-pixel character height.
// Its TrueType face, "Microsoft Sans Serif" (same design, same metrics), is taken where the system
// has it: the bitmap face comes in a few fixed heights only, which no longer match the layout
// once the desktop is scaled to 125 or 150 %, as most laptops are; the bitmap face itself only
// where it scales. Where neither is there, Roboto Condensed, carried inside the program, stands in at 9 pixels, whose
// character height (ascent plus descent, 11.9 pixels) is the same 12: narrow enough for every
// caption, label and list item, and with lines close enough (12 pixels) that the longest command
// list, equals-sign rules included, fits the list window, which has no scroll bars; at 10 pixels
// its lines are 14 pixels apart and the list no longer fits. Carrying it makes the windows the
// same on every machine, whatever fonts it has, and registering it from the program's own
// resources needs no search through the system's font configuration.
QFont MakeWindowFont() {
    QFont font;
    // Looked up by name among the installed families: asking the font configuration instead
    // would run its substitution rules, which costs more than the rest of the window.
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("MS Sans Serif")}) {
        if (installed.contains(family, Qt::CaseInsensitive) &&
            QFontDatabase::isSmoothlyScalable(family)) {
            font.setFamilies({family});
            font.setPixelSize(12);
            return font;
        }
    }
    InitResources();
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/kelvara/window-font.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    font.setFamilies({families.value(0, QStringLiteral("Roboto Condensed"))});
    font.setPixelSize(kCarriedFontPixelSize);
    // The font is drawn as designed, without the automatic hinter, and Latin text is laid out
    // glyph by glyph, without kerning or ligatures (as "MS Sans Serif" has none): both cost more
    // at start-up than the whole rest of the window, and neither shows at this size.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferNoShaping);
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

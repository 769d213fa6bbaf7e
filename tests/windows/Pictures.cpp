// Pictures of Kelvara's windows as Windows (here Wine) draws them, at the system's scale, for
// the README; each window is checked as it is pictured: a control reaching outside it or a text
// cut is named, and the program exits 1.
//   kelvara_windows_pictures OUTPUT_DIR
// windows-main.png, windows-list.png, windows-rejection.png (Windows' own message box) and
// windows-module.png.
#include "ATCommandList.h"
#include "ListSource.h"
#include "ModuleWindow.h"
#include "main.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

bool Save(const QImage& picture, const QString& path) {
    const bool saved = !picture.isNull() && picture.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// Whether a drop-down list's field is too narrow for the choice it shows.
bool ChoiceCut(const QComboBox* list) {
    if (!list)
        return false;
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = list->isEditable();
    option.frame = list->hasFrame();
    const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, list);
    return list->fontMetrics().horizontalAdvance(list->currentText()) > field.width();
}

// Every control inside its window, and every text of a label, a button or a box whole at the
// width its control got; each one that is not is named.
bool NothingClipped(QWidget* window) {
    bool whole = true;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        if (!control->isVisibleTo(window) || control->isWindow())
            continue;
        const QRect place(control->mapTo(window, QPoint()), control->size());
        const auto* label = qobject_cast<QLabel*>(control);
        const bool text = (label && !label->wordWrap()) || qobject_cast<QAbstractButton*>(control) ||
                          qobject_cast<QGroupBox*>(control);
        const bool outside = !window->rect().contains(place);
        const bool cut = (text && control->minimumSizeHint().width() > control->width()) ||
                         ChoiceCut(qobject_cast<QComboBox*>(control));
        if (outside || cut) {
            std::printf("%s: %s %s\n", qPrintable(window->objectName()),
                        qPrintable(control->objectName()),
                        outside ? "reaches outside the window" : "shows its text cut");
            whole = false;
        }
    }
    return whole;
}

// A window as it is drawn, and whether nothing in it is clipped.
bool Picture(QWidget* window, const QString& path) {
    QTest::qWait(300);
    return Save(window->grab().toImage(), path) & NothingClipped(window);
}

// Windows' own message box, copied from its pixels on the screen.
QImage OnScreen(HWND handle) {
    RECT area{};
    GetClientRect(handle, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    HDC window = GetDC(handle);
    HDC memory = CreateCompatibleDC(window);
    HBITMAP bitmap = CreateCompatibleBitmap(window, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    const QImage picture = QImage::fromHBITMAP(bitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(handle, window);
    return picture;
}

// Windows' own message box on the screen, then answered OK; looked for until it shows.
bool GrabSystemBox(QPushButton* button, const QString& path) {
    bool saved = false;
    QTimer look;
    int tries = 0;
    QObject::connect(&look, &QTimer::timeout, [&] {
        HWND box = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM found) -> BOOL {
            wchar_t kind[16] = {};
            GetClassNameW(window, kind, 16);
            if (IsWindowVisible(window) && std::wcscmp(kind, L"#32770") == 0)
                *reinterpret_cast<HWND*>(found) = window;
            return TRUE;
        }, reinterpret_cast<LPARAM>(&box));
        if (!box && ++tries < 50)
            return;
        look.stop();
        if (box) {
            QTest::qWait(300);
            saved = Save(OnScreen(box), path);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
    look.start(100);
    button->click();
    return saved;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    bool ok = true;

    TfrmMain main;
    main.show();
    QTest::qWait(500);
    ok &= Picture(&main, out.absoluteFilePath(QStringLiteral("windows-main.png")));
    const kelvara::TListSource source{kelvara::TListKind::Study,
                                      {{"format", "16"}, {"notify", "FFE1"}, {"write", "FFE1"}}};
    TfrmResult list;
    list.AddList(kelvara::BuildList(source).List());
    list.show();
    ok &= Picture(&list, out.absoluteFilePath(QStringLiteral("windows-list.png")));
    list.close();
    main.findChild<QLineEdit*>(QStringLiteral("edtCharNotify"))->setText(QStringLiteral("FFG1"));
    ok &= GrabSystemBox(main.findChild<QPushButton*>(QStringLiteral("btnShow")),
                        out.absoluteFilePath(QStringLiteral("windows-rejection.png")));

    TfrmModule module(kelvara::BuildList(source).List(), source);
    module.show();
    QTest::qWait(500);
    ok &= Picture(&module, out.absoluteFilePath(QStringLiteral("windows-module.png")));
    return ok ? 0 : 1;
}

// Pictures of Kelvara's windows as Windows (here Wine) draws them, for the README:
//   kelvara_windows_pictures OUTPUT_DIR
// windows-main.png, windows-list.png, windows-rejection.png (Windows' own message box) and
// windows-module.png.
#include "ListSource.h"
#include "ModuleWindow.h"
#include "main.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <windows.h>

#include <cstdio>

namespace {

bool Save(const QImage& picture, const QString& path) {
    const bool saved = !picture.isNull() && picture.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// A window as it is on the screen, copied from its own pixels.
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

QImage OnScreen(QWidget* window) {
    QTest::qWait(300);
    return OnScreen(reinterpret_cast<HWND>(window->winId()));
}

// Presses the button and pictures the modal window it opens before closing it.
bool PressAndGrab(QPushButton* button, const QString& path) {
    bool saved = false;
    QTimer::singleShot(500, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            saved = Save(OnScreen(modal), path);
            modal->close();
        }
    });
    button->click();
    return saved;
}

// Windows' own message box on the screen, then answered OK.
bool GrabSystemBox(QPushButton* button, const QString& path) {
    bool saved = false;
    QTimer::singleShot(500, [&] {
        HWND box = FindWindowW(L"#32770", nullptr);
        if (!box)
            return;
        saved = Save(OnScreen(box), path);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
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
    ok &= Save(OnScreen(&main), out.absoluteFilePath(QStringLiteral("windows-main.png")));
    auto* show = main.findChild<QPushButton*>(QStringLiteral("btnShow"));
    ok &= PressAndGrab(show, out.absoluteFilePath(QStringLiteral("windows-list.png")));
    main.findChild<QLineEdit*>(QStringLiteral("edtCharNotify"))->setText(QStringLiteral("FFG1"));
    ok &= GrabSystemBox(show, out.absoluteFilePath(QStringLiteral("windows-rejection.png")));

    const kelvara::TListSource source{kelvara::TListKind::Study,
                                      {{"format", "16"}, {"notify", "FFE1"}, {"write", "FFE1"}}};
    TfrmModule module(kelvara::BuildList(source).List(), source);
    module.resize(680, 560);
    module.show();
    QTest::qWait(500);
    ok &= Save(OnScreen(&module), out.absoluteFilePath(QStringLiteral("windows-module.png")));
    return ok ? 0 : 1;
}

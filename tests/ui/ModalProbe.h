#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Runs an inspection on the next modal window to appear, then closes it. Arm it before the
// call that blocks in the modal window's event loop. A check that fails inside the inspection
// closes the window too, whoever was to close it, so that the failure is reported rather than
// ending in a time-out:
//     ModalProbe probe([](QWidget* w) { ... });
//     button->click();
//     QVERIFY(probe.Seen());
class ModalProbe {
  public:
    using Inspect = std::function<void(QWidget*)>;
    enum class CloseBy { Inspector, CloseBox };

    explicit ModalProbe(Inspect inspect, CloseBy closeBy = CloseBy::CloseBox)
        : inspect_(std::move(inspect)), closeBy_(closeBy) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }

    bool Seen() const { return seen_ > 0; }
    int Count() const { return seen_; }

  private:
    void Poll() {
#ifdef Q_OS_WIN
        if (PollSystemBox())
            return;
#endif
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        ++seen_;
        timer_.stop();
        inspect_(modal);
        if ((closeBy_ == CloseBy::CloseBox || QTest::currentTestFailed()) && modal->isVisible())
            modal->close();
    }

#ifdef Q_OS_WIN
    // Windows' own message box (MessageBoxA), shown to the inspection as a QMessageBox that
    // holds what it holds: its caption, text, icon, buttons and owner. It is then closed with OK.
    bool PollSystemBox() {
        HWND box = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM found) -> BOOL {
                wchar_t kind[16] = {};
                GetClassNameW(window, kind, 16);
                if (IsWindowVisible(window) && QString::fromWCharArray(kind) == QLatin1String("#32770")) {
                    *reinterpret_cast<HWND*>(found) = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&box));
        if (!box)
            return false;
        const auto text = [](HWND window) {
            wchar_t buffer[2048] = {};
            GetWindowTextW(window, buffer, 2048);
            return QString::fromWCharArray(buffer);
        };
        // The parts of a message box: its text and icon, and one button for each answer.
        HWND message = GetDlgItem(box, 0xFFFF);
        HWND icon = GetDlgItem(box, 0x0440) ? GetDlgItem(box, 0x0440) : GetDlgItem(box, 0x14);
        const bool information =
            icon && reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)) ==
                        LoadIconW(nullptr, MAKEINTRESOURCEW(32516)); // IDI_INFORMATION
        QMessageBox::StandardButtons buttons;
        if (GetDlgItem(box, IDOK))
            buttons |= QMessageBox::Ok;
        if (GetDlgItem(box, IDCANCEL))
            buttons |= QMessageBox::Cancel;
        QWidget* owner = QWidget::find(reinterpret_cast<WId>(GetWindow(box, GW_OWNER)));
        QMessageBox mirror(information ? QMessageBox::Information : QMessageBox::NoIcon, text(box),
                           message ? text(message) : QString(), buttons, owner);
        mirror.setTextFormat(Qt::PlainText);
        ++seen_;
        timer_.stop();
        inspect_(&mirror);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
    }
#endif

    Inspect inspect_;
    CloseBy closeBy_;
    QTimer timer_;
    int seen_ = 0;
};

#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

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
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        ++seen_;
        timer_.stop();
        inspect_(modal);
        if ((closeBy_ == CloseBy::CloseBox || QTest::currentTestFailed()) && modal->isVisible())
            modal->close();
    }

    Inspect inspect_;
    CloseBy closeBy_;
    QTimer timer_;
    int seen_ = 0;
};

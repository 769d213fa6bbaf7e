// From a press of "Create AT Commands List" until the command list window is exposed, against
// showing an empty dialog of the same size, alternately; prints medians and their ratio.
//   kelvara_press_bench [RUNS]
#include "main.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Stops the clock when a dialog's window is first exposed, then closes the dialog.
class ExposeWatch : public QObject {
  public:
    explicit ExposeWatch(QElapsedTimer& clock) : clock_(clock) {
        QApplication::instance()->installEventFilter(this);
    }
    qint64 Nanoseconds() const { return nanoseconds_; }
    void Reset() { nanoseconds_ = -1; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && nanoseconds_ < 0) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed() && window->modality() != Qt::NonModal) {
                nanoseconds_ = clock_.nsecsElapsed();
                QTimer::singleShot(0, [] {
                    if (QWidget* modal = QApplication::activeModalWidget())
                        modal->close();
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QElapsedTimer& clock_;
    qint64 nanoseconds_ = -1;
};

double MedianMs(std::vector<qint64> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double middle = n % 2 ? static_cast<double>(values[n / 2])
                                : (static_cast<double>(values[n / 2 - 1] + values[n / 2])) / 2;
    return middle / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 41;
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);
    TfrmMain window;
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    auto* button = window.findChild<QPushButton*>(QStringLiteral("btnShow"));

    QElapsedTimer clock;
    ExposeWatch watch(clock);
    std::vector<qint64> list;
    std::vector<qint64> empty;
    for (int run = 0; run < runs; ++run) {
        watch.Reset();
        clock.start();
        button->click();
        list.push_back(watch.Nanoseconds());

        watch.Reset();
        clock.start();
        {
            QDialog dialog;
            dialog.setFixedSize(467, 424);
            dialog.exec();
        }
        empty.push_back(watch.Nanoseconds());
    }
    if (std::count(list.begin(), list.end(), -1) + std::count(empty.begin(), empty.end(), -1)) {
        std::fprintf(stderr, "kelvara_press_bench: a window was never exposed\n");
        return 1;
    }
    const double a = MedianMs(list);
    const double b = MedianMs(empty);
    std::printf("medians over %d alternating presses\n", runs);
    std::printf("%-34s %8.2f ms\n", "press to command list window", a);
    std::printf("%-34s %8.2f ms\n", "show an empty dialog of that size", b);
    std::printf("%-34s %8.3fx\n", "ratio", a / b);
    return 0;
}

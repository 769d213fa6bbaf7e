#pragma once

// The event loop's longest absence: a 1 ms timer notes the gaps between its runs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>

// Lets the event loop run for a while: a window's first paint is then not what is measured.
inline void Settle(std::chrono::milliseconds time = std::chrono::milliseconds(300)) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < time.count())
        QCoreApplication::processEvents();
}

// Runs the event loop until done() holds; the longest it went without running, in ms, and the
// whole time it ran, in s.
struct TStall {
    double LongestMs = 0;
    double Seconds = 0;
};

inline TStall RunNotingLongestStall(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (done())
            QCoreApplication::quit();
    });
    tick.start();
    QCoreApplication::exec();
    return {static_cast<double>(longest) / 1e6, static_cast<double>(clock.elapsed()) / 1e3};
}

#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

// For start-up measurements only: quits the application once the first paint of any widget
// has been handled, so that a run covers exactly "from start until the window is first drawn".
class QuitAfterFirstPaint : public QObject {
  public:
    explicit QuitAfterFirstPaint(QObject* parent = nullptr) : QObject(parent) {
        QCoreApplication::instance()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !quitting_) {
            quitting_ = true;
            // Runs once the whole paint (every dirty widget, then the flush) is done.
            QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool quitting_ = false;
};

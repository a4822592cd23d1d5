// The end of a start-up for bench_startup: the window's first paint, the
// moment a person sees it. Both start-up programs end so.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

class QuitAfterFirstPaint : public QObject {
 public:
  explicit QuitAfterFirstPaint(QWidget* window) {
    window->installEventFilter(this);
    // A window that never paints fails the run instead of hanging it.
    QTimer::singleShot(10000, this, [] { QCoreApplication::exit(3); });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      // Queued: the loop ends once this paint is done and on the screen.
      QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    }
    return false;
  }
};

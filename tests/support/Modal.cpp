#include "support/Modal.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

bool WithModal(const std::function<void()>& open, const std::function<void(QWidget*)>& act) {
  bool seen = false;
  QWidget* before = QApplication::activeModalWidget();
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QPointer<QWidget> window = QApplication::activeModalWidget();
    if (!window || window == before || !window->isVisible()) return;
    poll.stop();
    seen = true;
    QApplication::setActiveWindow(window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    act(window);
    if (window && window->isVisible()) {
      ADD_FAILURE() << "the modal window is still open";
      window->hide();
    }
  });
  poll.start();
  open();
  poll.stop();
  return seen;
}

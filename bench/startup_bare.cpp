// The yardstick: a bare Qt program that shows one empty window and ends as
// soon as the window has painted.
#include <QApplication>
#include <QWidget>

#include "first_paint.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.resize(600, 400);
  const QuitAfterFirstPaint end(&window);
  window.show();
  return QApplication::exec();
}

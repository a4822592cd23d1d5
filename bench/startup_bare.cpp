// The yardstick: a bare Qt program that shows one empty window and ends as
// soon as the window is exposed.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.resize(600, 400);
  window.show();
  QTimer::singleShot(0, &application, &QCoreApplication::quit);
  return QApplication::exec();
}

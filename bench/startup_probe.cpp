// The program's own start-up, up to the shown main window, in the
// installation given as argument; ends as soon as the window is exposed.
#include <QTimer>

#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "platform/Hooks.h"

int main(int argc, char** argv) {
  if (argc > 1) SetModuleFileNameOverride(std::string(argv[1]) + "/Talvorin");
  TApplication application(argc, argv);
  CreateForms();
  if (ApplicationTerminated()) return 1;
  MainForm->show();
  QTimer::singleShot(0, &application, &QCoreApplication::quit);
  QApplication::exec();
  DestroyForms();
  return 0;
}

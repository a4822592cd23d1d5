// The program's own start-up, up to the shown main window, in the
// installation given as argument; ends as soon as the window has painted.
#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "first_paint.h"
#include "platform/Hooks.h"

int main(int argc, char** argv) {
  if (argc > 1) SetModuleFileNameOverride(std::string(argv[1]) + "/Talvorin");
  TApplication application(argc, argv);
  CreateForms();
  if (ApplicationTerminated()) return 1;
  const QuitAfterFirstPaint end(MainForm);
  MainForm->show();
  const int painted = QApplication::exec();
  DestroyForms();
  return painted;
}

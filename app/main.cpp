#include "app/Application.h"
#include "app/Main.h"
#include "app/MessageBoxes.h"
#include "app/Startup.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  RunReportingErrors([&] {
    CreateForms();
    if (ApplicationTerminated()) return;
    MainForm->show();
    application.exec();
  });
  DestroyForms();
  return 0;
}

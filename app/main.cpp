#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "forms/MessageBoxes.h"
#include "platform/StandardStreams.h"

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
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

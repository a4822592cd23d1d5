#include <cstdio>
#include <cstring>

#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "forms/MessageBoxes.h"
#include "platform/StandardStreams.h"

namespace {

const char help[] =
    "usage: Talvorin [--help | --version]\n"
    "Starts Talvorin, a front end for a serial device programmer. It finds its files, and keeps its\n"
    "settings, in the folder of its executable. Other arguments are ignored.\n"
    "  --help     show this text and end\n"
    "  --version  show the version and end\n";

// Answered before any window or display is needed, so that both work from a
// script or a terminal without one. The first of the two on the line wins.
bool AnsweredOnTheCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("Talvorin " TALVORIN_VERSION);
      return true;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(help, stdout);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  if (AnsweredOnTheCommandLine(argc, argv)) return 0;
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

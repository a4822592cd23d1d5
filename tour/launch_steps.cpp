// Device > Change for a demo device, then Action > QELT with the stand-in tool.
#include <QAction>

#include "app/Main.h"
#include "launch/QeltTool.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "tour/Tour.h"

TOUR_STEP(250, "Device setup and Action > QELT") {
  // The selection dialog's step may have chosen a device already.
  if (MainForm->PanelText(0).empty()) {
    tour.say("Device > Change with ATmega103 confirmed (catalogue numbers 12 and 255)");
    MainForm->SetupDevice("ATmega103", AppFile({"programs", "atmega103.bin"}), 12, 255);
  }
  tour.say("status bar: \"" + MainForm->PanelText(0) + "\" \"" + MainForm->PanelText(1) + "\"");
  tour.check(!MainForm->PanelText(0).empty(), "the status bar shows the device");

  tour.say("Action > QELT; the stand-in tool prints what it was handed:");
  MainForm->QELT1->trigger();
  tour.check(MainForm->isVisible(), "the main window is back after the tool ended");

  std::string text;
  const bool read = ReadWholeFile(QeltIniPath(), text);
  const auto lines = SplitLines(text);
  const ProjectImages images = ReadProjectImages();
  tour.check(read && lines.size() >= 3 && lines[0] == images.data && lines[1] == images.program &&
                 lines[2].starts_with(QeltMarker),
             "Qelt.ini begins with the project's two images and then the marker line");
  tour.shot(MainForm, "main-window-device");
}

// Option > Serial devices with the virtual programmer's pseudo-terminal
// mapped to COM1.
#include <QAction>
#include <QComboBox>
#include <QPushButton>

#include "app/Main.h"
#include "platform/Files.h"
#include "ports/SerialDevicesForm.h"
#include "tools/VprogProcess.h"
#include "tour/Tour.h"

TOUR_STEP(320, "Option > Serial devices with the virtual programmer on COM1") {
  if (!MainForm->Serialdevices1) {
    tour.say("COM names are the system's own here: no devices to choose");
    return;
  }
  const std::string ini = tour.installDir + "/Talvorin.ini";
  std::string before;
  const bool hadIni = ReadWholeFile(ini, before);
  {
    VprogProcess vprog;
    const bool started = vprog.Start(
        tour.installDir + "/talvorin-vprog",
        {"--install", tour.installDir, "--com", "1", "--serve", tour.installDir + "/programs/atmega103.bin"});
    tour.check(started, "the virtual programmer started");
    if (!started) return;
    tour.say("the virtual programmer answers on " + vprog.Device());
    tour.modal([] { MainForm->Serialdevices1->trigger(); },
               [&](QWidget* window) {
                 auto* form = qobject_cast<TSerialDevicesForm*>(window);
                 tour.check(form != nullptr, "the serial devices dialog opened");
                 if (!form) {
                   window->close();
                   return;
                 }
                 for (int n = 1; n <= TSerialDevicesForm::ComCount; ++n)
                   tour.say("COM" + std::to_string(n) + ": " + form->Chooser(n)->currentText().toStdString() + " (" +
                            std::to_string(form->Chooser(n)->count()) + " entries)");
                 tour.check(form->ChosenDevice(1) == vprog.Device(), "COM1 leads to the virtual programmer");
                 tour.shot(form, "serial-devices");
                 form->BitBtn2->click();
               });
  }
  // The programmer is gone with its pseudo-terminal: the demo's file as it was.
  if (hadIni) tour.check(ReplaceFileContents(ini, before), "Talvorin.ini restored");
}

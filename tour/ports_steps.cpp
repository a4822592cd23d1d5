// The port dialog, and the message dialog of the transfers.
#include <QAction>
#include <QComboBox>
#include <QPushButton>

#include "app/Main.h"
#include "forms/Dlg.h"
#include "ports/PortSettings.h"
#include "ports/Selectlpt.h"
#include "tour/Tour.h"

namespace {

// Option > Port, choosing the given entries and pressing OK.
void ChoosePorts(Tour& tour, int lptIndex, int comIndex, const char* shotName) {
  tour.modal([] { MainForm->Port1->trigger(); },
             [&tour, lptIndex, comIndex, shotName](QWidget*) {
               tour.say("the dialog shows " + LPTForm->ComboBox1->currentText().toStdString() + " and " +
                        LPTForm->ComboBox2->currentText().toStdString());
               LPTForm->ComboBox1->setCurrentIndex(lptIndex);
               LPTForm->ComboBox2->setCurrentIndex(comIndex);
               if (shotName) tour.shot(LPTForm, shotName);
               LPTForm->BitBtn1->click();
             });
  tour.say("caption: " + MainForm->Caption());
}

}  // namespace

TOUR_STEP(300, "Option > Port: LPT 2 and COM 3, then back to the demo's ports") {
  const std::int32_t lpt = ReadLptIndex();
  const std::int32_t com = ReadComIndex();
  ChoosePorts(tour, 1, 2, "port-dialog");
  tour.check(MainForm->LptNumber == 2 && MainForm->ComNumber == 3, "the main window uses LPT 2 and COM 3");
  tour.check(ReadLptIndex() == 1 && ReadComIndex() == 2, "both choices saved");
  ChoosePorts(tour, lpt, com, nullptr);
  tour.check(MainForm->ComNumber == com + 1, "the demo's COM port restored");
}

TOUR_STEP(310, "The message dialog of the transfers") {
  tour.modal([] { ShowMessageDialog(MainForm, "Download", "Download compelete !!!"); },
             [&tour](QWidget* window) {
               tour.say("message: " + window->windowTitle().toStdString());
               tour.shot(window, "message-dialog");
               MsgDlg->BitBtn1->click();
             });
}

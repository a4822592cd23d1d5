// Device > Change: the selection dialog, a keyword search and a confirmed
// device.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "app/Main.h"
#include "catalogue/Select.h"
#include "tour/Tour.h"

namespace {

void keyDown(QWidget* control, int key, const QString& text = {}) {
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(control, &down);
}

void type(QWidget* control, const QString& text) {
  for (const QChar c : text) {
    keyDown(control, c.toUpper().unicode(), c);
    QKeyEvent up(QEvent::KeyRelease, c.toUpper().unicode(), Qt::NoModifier, c);
    QApplication::sendEvent(control, &up);
  }
}

std::string listed(const TCatalogueListBox* list) {
  std::string all;
  for (int i = 0; i < list->Count(); ++i) all += (i ? ", " : "") + list->Entry(i).name;
  return all;
}

}  // namespace

TOUR_STEP(200, "Device > Change: find a device by keyword and confirm it") {
  tour.modal([] { MainForm->Change1->trigger(); },
             [&](QWidget* dialog) {
               tour.check(dialog == SelectForm, "Device > Change shows the selection dialog");
               tour.say("vendors: " + listed(SelectForm->ListBox1));
               tour.say("status line: " + SelectForm->StatusText());
               tour.shot(dialog, "device-selection");
               type(SelectForm->SelectEdit, QStringLiteral("877"));
               tour.say("keyword 877: " + listed(SelectForm->ListBox2) + "; " + SelectForm->StatusText());
               tour.shot(dialog, "device-image-missing");
               SelectForm->SelectEdit->clear();
               type(SelectForm->SelectEdit, QStringLiteral("8515"));
               tour.say("keyword 8515: vendors " + listed(SelectForm->ListBox1) + "; devices " +
                        listed(SelectForm->ListBox2) + "; " + SelectForm->StatusText());
               tour.shot(dialog, "device-keyword");
               keyDown(SelectForm->SelectEdit, Qt::Key_Return);
             });
  tour.check(!SelectForm->isVisible(), "Enter closes the dialog");
  tour.check(SelectForm->SelectedDevice == "AT90S8515", "Enter confirms AT90S8515");
  tour.say("confirmed " + SelectForm->SelectedDevice + " with " + SelectForm->ProgramPath + ", bytes " +
           std::to_string(SelectForm->EepromByte1) + " and " + std::to_string(SelectForm->EepromByte6));
}

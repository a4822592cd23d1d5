#include "app/Startup.h"

#include "app/Application.h"
#include "app/Main.h"
#include "catalogue/Select.h"
#include "ports/Selectlpt.h"

void CreateForms() {
  MainForm = new TMainForm();
  SelectForm = new TSelectForm(MainForm);
  // Without a catalogue the program ends as soon as it would start.
  if (SelectForm->CatalogueFailed) TerminateApplication();
  // The port dialog follows at its first use (PortSelectionForm).
}

TLPTForm* PortSelectionForm(QWidget* owner) {
  if (!LPTForm) {
    LPTForm = new TLPTForm(owner);
    // It goes with its owner: a main window built on its own takes it along.
    QObject::connect(LPTForm, &QObject::destroyed, [] { LPTForm = nullptr; });
  }
  return LPTForm;
}

void DestroyForms() {
  // The dialogs belong to the main window: they go before it.
  delete LPTForm;
  LPTForm = nullptr;
  delete SelectForm;
  SelectForm = nullptr;
  delete MainForm;
  MainForm = nullptr;
}

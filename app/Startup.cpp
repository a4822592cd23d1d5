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
  LPTForm = new TLPTForm(MainForm);
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

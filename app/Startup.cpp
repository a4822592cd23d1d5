#include "app/Startup.h"

#include "app/Main.h"
#include "catalogue/Select.h"

void CreateForms() {
  MainForm = new TMainForm();
  SelectForm = new TSelectForm(MainForm);
}

void DestroyForms() {
  // The dialogs belong to the main window: they go before it.
  delete SelectForm;
  SelectForm = nullptr;
  delete MainForm;
  MainForm = nullptr;
}

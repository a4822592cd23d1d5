#include "app/Startup.h"

#include "app/Main.h"
#include "ports/Selectlpt.h"

void CreateForms() {
  MainForm = new TMainForm();
  LPTForm = new TLPTForm(MainForm);
}

void DestroyForms() {
  delete LPTForm;
  LPTForm = nullptr;
  delete MainForm;
  MainForm = nullptr;
}

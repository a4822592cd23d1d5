#include "app/Startup.h"

#include "app/Main.h"

void CreateForms() { MainForm = new TMainForm(); }

void DestroyForms() {
  delete MainForm;
  MainForm = nullptr;
}

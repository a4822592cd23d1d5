// Creates the application's windows in their start-up order, and destroys them.
#pragma once

class QWidget;
class TLPTForm;

void CreateForms();
void DestroyForms();

// The port selection dialog, built when Option > Port first asks for it and
// kept for the rest of the run. Nothing shows it before, and building it was
// a good part of the start-up.
TLPTForm* PortSelectionForm(QWidget* owner);

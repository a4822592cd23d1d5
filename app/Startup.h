// Creates the application's windows in their start-up order, and destroys them.
#pragma once

void CreateForms();
void DestroyForms();

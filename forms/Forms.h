// Look and placement shared by the program's windows.
#pragma once

class QWidget;

// "MS Sans Serif" at the given pixel height (the nearest font the system
// has), on the button-face colour.
void ApplyFormStyle(QWidget* form, int fontPixels = 11);

// Centres a window over its owner, or on the screen without one.
void CenterOver(QWidget* form, const QWidget* owner);

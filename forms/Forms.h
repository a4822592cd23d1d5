// Look and placement shared by the program's windows.
#pragma once

class QStyle;
class QWidget;

// "MS Sans Serif" at the given pixel height (the nearest font the system
// has), on the button-face colour.
void ApplyFormStyle(QWidget* form, int fontPixels = 11);

// Centres a window over its owner, or on the screen without one.
void CenterOver(QWidget* form, const QWidget* owner);

// A style that draws as base does, and reads base's standard pictures of
// the dialog buttons and of the menu bar's overflow button when each is first
// drawn or measured rather than when a control is built: the windows built at
// start-up show none of them, and reading them (with the image plug-ins that
// the first reading loads) was a good part of the start-up. Takes base over.
QStyle* StyleWithDeferredIcons(QStyle* base);

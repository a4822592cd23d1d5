// Look and placement shared by the program's windows.
#pragma once

#include <QIcon>
#include <QStyle>

class QWidget;

// "MS Sans Serif" at the given pixel height (the nearest font the system
// has), on the button-face colour.
void ApplyFormStyle(QWidget* form, int fontPixels = 11);

// Centres a window over its owner, or on the screen without one.
void CenterOver(QWidget* form, const QWidget* owner);

// The style's standard picture for a button of the form, read from the style
// when it is first drawn or measured: the dialogs built at start-up are drawn
// only when opened, and reading the pictures is a good part of the start-up.
QIcon DeferredStandardIcon(const QWidget* form, QStyle::StandardPixmap which);

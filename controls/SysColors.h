// Windows system colours for the whole program: system colour n (a colour
// value 0x80000000 + n) is taken from the application's Qt palette, so the
// program's colours follow the desktop's look as they would on Windows.
//
//   n  Windows name               Qt palette colour (active group unless said)
//   0  COLOR_SCROLLBAR            Button
//   1  COLOR_BACKGROUND           Dark
//   2  COLOR_ACTIVECAPTION        Highlight
//   3  COLOR_INACTIVECAPTION      Dark
//   4  COLOR_MENU                 Window
//   5  COLOR_WINDOW               Base
//   6  COLOR_WINDOWFRAME          Shadow
//   7  COLOR_MENUTEXT             WindowText
//   8  COLOR_WINDOWTEXT           Text
//   9  COLOR_CAPTIONTEXT          HighlightedText
//  10  COLOR_ACTIVEBORDER         Button
//  11  COLOR_INACTIVEBORDER       Button
//  12  COLOR_APPWORKSPACE         Dark
//  13  COLOR_HIGHLIGHT            Highlight
//  14  COLOR_HIGHLIGHTTEXT        HighlightedText
//  15  COLOR_BTNFACE              Button
//  16  COLOR_BTNSHADOW            Dark
//  17  COLOR_GRAYTEXT             Text, disabled group
//  18  COLOR_BTNTEXT              ButtonText
//  19  COLOR_INACTIVECAPTIONTEXT  Midlight
//  20  COLOR_BTNHIGHLIGHT         Light
//  21  COLOR_3DDKSHADOW           Shadow
//  22  COLOR_3DLIGHT              Midlight
//  23  COLOR_INFOTEXT             ToolTipText
//  24  COLOR_INFOBK               ToolTipBase
//  26  COLOR_HOTLIGHT             Link
//  27  COLOR_GRADIENTACTIVECAPTION   Highlight
//  28  COLOR_GRADIENTINACTIVECAPTION Dark
//  29  COLOR_MENUHILIGHT          Highlight
//  30  COLOR_MENUBAR              Window
// Any other number is black, as Windows answers for a colour it lacks.
#pragma once

#include <QColor>
#include <cstdint>

#include "controls/Colors.h"

// The RGB value (0x00BBGGRR) of system colour n.
std::uint32_t SysColorRGB(int n);

// The RGB value of a colour, system colours resolved.
std::uint32_t ColorToRGB(TColor color);

// The same as a Qt colour.
QColor ToQColor(TColor color);

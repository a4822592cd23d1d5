#include "controls/Hlabel.h"

#include <QEnterEvent>
#include <QPalette>

#include "controls/SysColors.h"

THLabel::THLabel(QWidget* owner) : QLabel(owner) { SetFontColor(fontColor); }

void THLabel::SetFontColor(TColor value) {
  fontColor = value;
  // A disabled label keeps the toolkit's grey text.
  QPalette p = palette();
  p.setColor(QPalette::Active, QPalette::WindowText, ToQColor(value));
  p.setColor(QPalette::Inactive, QPalette::WindowText, ToQColor(value));
  setPalette(p);
}

void THLabel::MouseEnter(QEvent*) {
  if (!isEnabled()) return;
  OnMouseEnter(this);
  savedColor = fontColor;
  SetFontColor(enterColor);
  update();
}

void THLabel::MouseLeave(QEvent*) {
  if (!isEnabled()) return;
  OnMouseLeave(this);
  SetFontColor(savedColor);
  update();
}

void THLabel::enterEvent(QEnterEvent* event) { MouseEnter(event); }

void THLabel::leaveEvent(QEvent* event) { MouseLeave(event); }

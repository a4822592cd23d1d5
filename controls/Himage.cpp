#include "controls/Himage.h"

#include <QEnterEvent>

THImage::THImage(QWidget* owner) : QLabel(owner) {}

void THImage::MouseEnter(QEvent*) {
  if (isEnabled()) OnMouseEnter(this);
}

void THImage::MouseLeave(QEvent*) {
  if (isEnabled()) OnMouseLeave(this);
}

void THImage::enterEvent(QEnterEvent* event) { MouseEnter(event); }

void THImage::leaveEvent(QEvent* event) { MouseLeave(event); }

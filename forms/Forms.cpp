#include "forms/Forms.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

void ApplyFormStyle(QWidget* form, int fontPixels) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(fontPixels);
  form->setFont(font);
  QPalette palette = form->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  form->setPalette(palette);
}

void CenterOver(QWidget* form, const QWidget* owner) {
  const QRect area = owner ? owner->frameGeometry() : form->screen()->availableGeometry();
  const QRect frame = form->frameGeometry();
  form->move(area.center() - QPoint(frame.width() / 2, frame.height() / 2) + (form->pos() - frame.topLeft()));
}

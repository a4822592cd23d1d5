#include "controls/imGauge.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "controls/SysColors.h"

namespace {

// Stores a value that differs from the field's; tells whether it did.
template <class T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

// The outer ring of a sunken 3-D edge: shadow along the top and left, the
// button highlight along the bottom and right (which own the two corners
// they share with the others).
void DrawSunkenOuterRing(QPainter& p, int width, int height) {
  const QColor shadow = ToQColor(clBtnShadow);
  const QColor highlight = ToQColor(clBtnHighlight);
  p.fillRect(0, 0, width - 1, 1, shadow);
  p.fillRect(0, 0, 1, height - 1, shadow);
  p.fillRect(0, height - 1, width, 1, highlight);
  p.fillRect(width - 1, 0, 1, height, highlight);
}

}  // namespace

TimGauge::TimGauge(QWidget* owner) : QWidget(owner) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the gauge paints every pixel itself
  resize(100, 25);
  BuildShadeTable();
}

void TimGauge::BuildShadeTable() {
  shades = ::BuildShadeTable(gaugeSize, ColorToRGB(backColor), ColorToRGB(frontColor));
}

void TimGauge::SetPercent(TPercent value) {
  if (Store(percent, std::min<TPercent>(value, 100))) repaint();
}

void TimGauge::SetGaugeDirection(TGaugeDirection value) {
  if (Store(direction, value)) repaint();
}

void TimGauge::SetGaugeSize(std::uint32_t value) {
  if (Store(gaugeSize, std::min(value, static_cast<std::uint32_t>(width())))) ShadesChanged();
}

void TimGauge::SetBorderStyle(TBorderStyle value) {
  if (Store(borderStyle, value)) repaint();
}

void TimGauge::SetCtl3D(bool value) {
  if (Store(ctl3D, value)) repaint();
}

void TimGauge::SetColor(TColor value) {
  if (Store(color, value)) repaint();
}

void TimGauge::SetFrontColor(TColor value) {
  if (Store(frontColor, value)) ShadesChanged();
}

void TimGauge::SetBackColor(TColor value) {
  if (Store(backColor, value)) ShadesChanged();
}

void TimGauge::ShadesChanged() {
  BuildShadeTable();
  repaint();
}

void TimGauge::SetInterval(std::uint32_t value) { interval = value; }

void TimGauge::SetStepSize(std::uint32_t value) {
  if (value < 100) stepSize = value;
}

void TimGauge::Advance(std::uint32_t step) {
  AdvanceSweep(percent, direction, step);
  repaint();
}

void TimGauge::paintEvent(QPaintEvent* event) {
  if (width() <= 0 || height() <= 0) return;
  // Painted off-screen first so that a gauge advanced on every pass of a
  // busy loop does not flicker.
  QImage bitmap(width(), height(), QImage::Format_RGB32);
  {
    QPainter p(&bitmap);
    int left = 0, top = 0, right = width(), bottom = height();
    if (borderStyle == bsSingle) {
      if (ctl3D) {
        // The inner ring of the sunken edge lies under the background.
        DrawSunkenOuterRing(p, right, bottom);
      } else {
        p.setPen(Qt::black);
        p.drawRect(0, 0, right - 1, bottom - 1);
      }
      ++left, ++top, --right, --bottom;
    }
    if (right > left && bottom > top) {
      p.fillRect(left, top, right - left, bottom - top, ToQColor(color));
      for (const TCometColumn& column : CometColumns(left, right, percent, gaugeSize, direction))
        p.fillRect(column.x, top, 1, bottom - top, ToQColor(shades[column.shade]));
    }
  }
  QPainter(this).drawImage(event->rect(), bitmap, event->rect());
}

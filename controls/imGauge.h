// The animated activity gauge: a strip in which a comet of vertical lines,
// shading from BackColor to FrontColor, stands at Percent of the way from its
// starting side. Each Advance moves it on; at the far end it turns round.
#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

#include "controls/Colors.h"
#include "controls/GaugeModel.h"
#include "platform/Events.h"

enum TBorderStyle : std::uint8_t { bsNone = 0, bsSingle = 1 };

class TimGauge : public QWidget, public TObject {
  Q_OBJECT

 public:
  // 100 x 25, Percent 0, rightwards, a 50-column comet from button face to
  // inactive caption on button face, single border without 3-D.
  explicit TimGauge(QWidget* owner = nullptr);

  // Every setter stores only a value that differs; those that change the
  // picture repaint before they return.
  TPercent Percent() const { return percent; }
  void SetPercent(TPercent value);  // above 100 is taken as 100
  TGaugeDirection GaugeDirection() const { return direction; }
  void SetGaugeDirection(TGaugeDirection value);
  std::uint32_t GaugeSize() const { return gaugeSize; }
  void SetGaugeSize(std::uint32_t value);  // at most the width
  TBorderStyle BorderStyle() const { return borderStyle; }
  void SetBorderStyle(TBorderStyle value);
  bool Ctl3D() const { return ctl3D; }
  void SetCtl3D(bool value);
  TColor Color() const { return color; }
  void SetColor(TColor value);
  TColor FrontColor() const { return frontColor; }
  void SetFrontColor(TColor value);
  TColor BackColor() const { return backColor; }
  void SetBackColor(TColor value);
  // Kept for the owner; the gauge has no timer and moves only on Advance.
  std::uint32_t Interval() const { return interval; }
  void SetInterval(std::uint32_t value);
  std::uint32_t StepSize() const { return stepSize; }
  void SetStepSize(std::uint32_t value);  // 100 and more are refused

  // Moves the comet on by step percent; past 99 it turns round and starts
  // again at 0 from the other side.
  void Advance(std::uint32_t step);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void BuildShadeTable();
  void ShadesChanged();

  TPercent percent = 0;
  TGaugeDirection direction = gdRight;
  std::uint32_t gaugeSize = 50;
  TBorderStyle borderStyle = bsSingle;
  bool ctl3D = false;
  TColor color = clBtnFace;
  TColor frontColor = clInactiveCaption;
  TColor backColor = clBtnFace;
  std::uint32_t interval = 10;
  std::uint32_t stepSize = 1;
  std::vector<std::uint32_t> shades;
};

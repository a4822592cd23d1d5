// The custom controls: the activity gauge at a few positions and the label
// that lights up under the mouse pointer.
#include <QApplication>
#include <QEnterEvent>
#include <QWidget>

#include "controls/Hlabel.h"
#include "controls/imGauge.h"
#include "forms/Forms.h"
#include "tour/Tour.h"

TOUR_STEP(700, "The activity gauge and the hover label") {
  QWidget window;
  window.setWindowTitle(QStringLiteral("Controls"));
  ApplyFormStyle(&window);
  window.resize(300, 90);
  // As the upload dialog places it.
  auto* upload = new TimGauge(&window);
  upload->setGeometry(7, 10, 278, 7);
  upload->SetGaugeDirection(gdLeft);
  upload->SetGaugeSize(40);
  upload->SetBackColor(clBlue);
  // As it comes, with a sunken edge.
  auto* plain = new TimGauge(&window);
  plain->move(7, 25);
  plain->SetCtl3D(true);
  auto* label = new THLabel(&window);
  label->setText(QStringLiteral("Point at this label"));
  label->SetEnterColor(0x000000FF);
  label->setGeometry(7, 60, 200, 16);
  window.show();

  for (TPercent percent : {0, 25, 50, 100}) {
    upload->SetPercent(percent);
    plain->SetPercent(percent);
    tour.say("gauges at " + std::to_string(percent) + "%");
    tour.shot(&window, "gauge-" + std::to_string(percent));
  }
  upload->SetPercent(0);
  for (int pass = 0; pass < 100; ++pass) upload->Advance(1);
  tour.check(upload->Percent() == 0 && upload->GaugeDirection() == gdRight, "100 steps turn the gauge round");
  tour.say("after 100 steps the upload gauge runs rightwards");

  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(label, &enter);
  tour.check(label->FontColor() == 0x000000FF, "the label turns red under the pointer");
  tour.say("the pointer over the label");
  tour.shot(&window, "hover-label");
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(label, &leave);
  tour.check(label->FontColor() == clWindowText, "the label's colour comes back");
}

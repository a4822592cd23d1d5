// Cost of one gauge step: the upload dialog calls Advance on every pass of
// its polling loop, and each call repaints the strip before it returns. The
// step is set against a plain widget repainting the same area with one fill,
// the least a repaint can cost; bytes arrive every 87 us at 115200 baud.
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "controls/imGauge.h"

namespace {

struct PlainStrip : QWidget {
  PlainStrip() { setAttribute(Qt::WA_OpaquePaintEvent); }
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::blue); }
};

template <class Step>
double MicrosecondsPerCall(QWidget& widget, Step step) {
  widget.resize(278, 7);
  widget.show();
  if (!QTest::qWaitForWindowExposed(&widget)) std::exit(1);
  const int calls = 20000;
  for (int i = 0; i < 1000; ++i) step();  // warm up
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < calls; ++i) step();
  return timer.nsecsElapsed() / 1e3 / calls;
}

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  TimGauge gauge;
  gauge.SetGaugeDirection(gdLeft);
  gauge.SetGaugeSize(40);
  gauge.SetBackColor(clBlue);
  PlainStrip plain;
  const double plainUs = MicrosecondsPerCall(plain, [&] { plain.repaint(); });
  const double gaugeUs = MicrosecondsPerCall(gauge, [&] { gauge.Advance(1); });
  std::printf("upload gauge 278 x 7: Advance(1) with its repaint %.1f us; plain repaint %.1f us; ratio %.2f\n",
              gaugeUs, plainUs, gaugeUs / plainUs);
  return 0;
}

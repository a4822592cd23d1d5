// The demo tour: the real windows over the demo installation, walked through
// step by step, with a screenshot of each window. Steps register themselves
// with TOUR_STEP(order, "what it shows") in any *_steps.cpp of this folder and
// run in order.
#pragma once

#include <functional>
#include <string>

class QWidget;

class Tour {
 public:
  explicit Tour(std::string installDir);
  const std::string installDir;

  // Prints what the tour does.
  void say(const std::string& text);
  // Saves a PNG of the window as tour/<NN>-<name>.png in the installation.
  void shot(QWidget* window, const std::string& name);
  // Calls open, which shows a modal window and returns when it closes; act is
  // called with that window once it is up, and must close it.
  void modal(const std::function<void()>& open, const std::function<void(QWidget*)>& act);
  // Lets the windows paint.
  void settle();

  int failures = 0;
  void check(bool ok, const std::string& what);

 private:
  int shots = 0;
};

using TourStepFunction = void (*)(Tour&);
struct TourRegistrar {
  TourRegistrar(int order, const char* title, TourStepFunction run);
};

#define TOUR_CONCAT2(a, b) a##b
#define TOUR_CONCAT(a, b) TOUR_CONCAT2(a, b)
#define TOUR_STEP(order, title)                                                          \
  static void TOUR_CONCAT(tourStep, order)(Tour&);                                       \
  static const TourRegistrar TOUR_CONCAT(tourRegistrar, order)(order, title,             \
                                                               TOUR_CONCAT(tourStep, order)); \
  static void TOUR_CONCAT(tourStep, order)(Tour & tour)

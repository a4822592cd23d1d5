#include "tour/Tour.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <map>

#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "platform/Hooks.h"
#include "platform/StandardStreams.h"

namespace {
std::multimap<int, std::pair<const char*, TourStepFunction>>& steps() {
  static std::multimap<int, std::pair<const char*, TourStepFunction>> all;
  return all;
}
}  // namespace

TourRegistrar::TourRegistrar(int order, const char* title, TourStepFunction run) {
  steps().emplace(order, std::make_pair(title, run));
}

Tour::Tour(std::string dir) : installDir(std::move(dir)) {
  QDir(QString::fromLocal8Bit(installDir)).mkpath(QStringLiteral("tour"));
}

void Tour::say(const std::string& text) {
  std::printf("  %s\n", text.c_str());
  std::fflush(stdout);
}

void Tour::settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

void Tour::shot(QWidget* window, const std::string& name) {
  settle();
  char file[512];
  std::snprintf(file, sizeof file, "%s/tour/%02d-%s.png", installDir.c_str(), ++shots, name.c_str());
  const bool saved = window->grab().save(QString::fromLocal8Bit(file));
  check(saved, std::string("screenshot ") + file);
}

void Tour::modal(const std::function<void()>& open, const std::function<void(QWidget*)>& act) {
  QWidget* before = QApplication::activeModalWidget();
  QElapsedTimer waited;
  waited.start();
  auto* poll = new QTimer(qApp);
  // Everything by value: the timer may outlive this function.
  QObject::connect(poll, &QTimer::timeout, [=, this] {
    QWidget* now = QApplication::activeModalWidget();
    if (now && now != before && now->isVisible()) {
      poll->stop();
      poll->deleteLater();
      act(now);
    } else if (waited.elapsed() > 10000) {
      poll->stop();
      poll->deleteLater();
      check(false, "a modal window appeared");
    }
  });
  poll->start(20);
  const QPointer<QTimer> pending(poll);
  open();
  // open() returned without a modal window that the timer saw.
  if (pending && pending->isActive()) {
    delete pending;
    check(false, "a modal window appeared");
  }
}

void Tour::check(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::printf("  FAILED: %s\n", what.c_str());
}

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  if (argc != 2) {
    std::fprintf(stderr, "usage: talvorin-tour <demo installation folder>\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath().toStdString();
  SetModuleFileNameOverride(dir + "/Talvorin");
  TApplication application(argc, argv);
  Tour tour(dir);
  std::printf("Demo tour of the installation in %s\n", dir.c_str());
  CreateForms();
  if (ApplicationTerminated()) {
    std::printf("The program ended during start-up.\n");
    return 1;
  }
  MainForm->show();
  tour.settle();
  for (const auto& [order, step] : steps()) {
    std::printf("%s\n", step.first);
    step.second(tour);
  }
  DestroyForms();
  std::printf("Tour done, %d failures; screenshots in %s/tour\n", tour.failures, dir.c_str());
  return tour.failures ? 1 : 0;
}

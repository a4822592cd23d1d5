// The main window, its menus, and the end of the program.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTimer>

#include "app/Main.h"
#include "ports/PortSettings.h"
#include "tour/Tour.h"

TOUR_STEP(100, "The main window and its menus") {
  tour.say("caption: " + MainForm->Caption());
  tour.shot(MainForm, "main-window");
  for (QMenu* menu : {MainForm->FileF1, MainForm->Device1, MainForm->OptionO1, MainForm->ActionA1, MainForm->HelpH1}) {
    menu->popup(MainForm->mapToGlobal(QPoint(0, 0)));
    const std::string title = menu->title().remove('&').toStdString();
    tour.say("menu " + title);
    tour.shot(menu, "menu-" + title);
    menu->close();
  }
}

TOUR_STEP(150, "Option > Port without prnport.cfg") {
  const QString cfg = QString::fromLocal8Bit(PrnportPath());
  QFile::rename(cfg, cfg + ".away");
  tour.modal([] { MainForm->Port1->trigger(); },
             [&](QWidget* box) {
               tour.say("message: " + box->windowTitle().toStdString());
               tour.shot(box, "port-without-prnport");
               box->close();
             });
  QFile::rename(cfg + ".away", cfg);
}

TOUR_STEP(10000, "File > Exit") {
  bool timedOut = false;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timedOut = true;
    QCoreApplication::quit();
  });
  guard.start(5000);
  QTimer::singleShot(0, [] { MainForm->ExitX1->trigger(); });
  QApplication::exec();
  const bool ended = !timedOut && !MainForm->isVisible();
  tour.check(ended, "File > Exit ends the program");
  tour.say(ended ? "the program ended" : "the program did not end");
}

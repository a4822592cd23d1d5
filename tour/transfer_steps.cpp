// File > Download and File > Upload with the virtual programmer on the demo's
// COM port: a program image goes to it and comes back.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/Main.h"
#include "forms/Dlg.h"
#include "platform/Files.h"
#include "tools/VprogProcess.h"
#include "tour/Tour.h"
#include "transfer/Download.h"
#include "transfer/Upload.h"

namespace {

// Screenshots the dialog with its final message up, then closes the message;
// its text goes to shown when given.
void ShotWithMessage(Tour& tour, QWidget* form, const std::string& name, std::string* shown = nullptr) {
  auto* poll = new QTimer(form);
  QObject::connect(poll, &QTimer::timeout, [&tour, poll, form, name, shown] {
    if (!MsgDlg || !MsgDlg->isVisible()) return;
    poll->stop();
    if (shown) *shown = MsgDlg->Label->text().toStdString();
    tour.say("message: " + MsgDlg->windowTitle().toStdString() + ": " + MsgDlg->Label->text().toStdString());
    tour.shot(form, name);
    tour.shot(MsgDlg, name + "-message");
    MsgDlg->BitBtn1->click();
  });
  poll->start(20);
}

}  // namespace

TOUR_STEP(500, "File > Download and File > Upload with the virtual programmer") {
  const std::string image = tour.installDir + "/programs/atmega103.bin";
  const std::string stored = tour.installDir + "/programmer-memory.bin";
  const std::string uploaded = tour.installDir + "/uploaded.bin";
  VprogProcess vprog;
  const bool started = vprog.Start(tour.installDir + "/talvorin-vprog",
                                   {"--install", tour.installDir, "--com", std::to_string(MainForm->ComNumber),
                                    "--block", "128", "--store", stored, "--serve", image});
  tour.check(started, "the virtual programmer started");
  if (!started) return;
  tour.say("the virtual programmer answers on COM" + std::to_string(MainForm->ComNumber) + " (" + vprog.Device() + ")");

  tour.modal([] { MainForm->Download1->trigger(); },
             [&](QWidget*) {
               tour.say("download dialog: \"" + DForm->windowTitle().toStdString() + "\"");
               DForm->Edit1->setText(QString::fromLocal8Bit(image));
               ShotWithMessage(tour, DForm, "download-dialog");
               DForm->BitBtn1->click();
               tour.say("progress " + std::to_string(DForm->PBar->value()) + " of " +
                        std::to_string(DForm->PBar->maximum()) + " blocks");
               DForm->BitBtn2->click();
             });
  tour.say("programmer: " + vprog.ReadLine(10000));

  tour.modal([] { MainForm->Upload1->trigger(); },
             [&](QWidget*) {
               tour.say("upload dialog: \"" + UForm->windowTitle().toStdString() + "\"");
               UForm->Edit1->setText(QString::fromLocal8Bit(uploaded));
               ShotWithMessage(tour, UForm, "upload-dialog");
               UForm->BitBtn1->click();
               UForm->BitBtn2->click();
             });
  tour.say("programmer: " + vprog.ReadLine(10000));

  std::string sent, back;
  ReadWholeFile(image, sent);
  ReadWholeFile(uploaded, back);
  // Both ways travel whole blocks: the image comes back filled up with 0xFF.
  sent.resize((sent.size() + 127) / 128 * 128, '\xFF');
  tour.check(!sent.empty() && back == sent, "the uploaded image is the downloaded one, in whole blocks");
}

TOUR_STEP(510, "File > Download: the programmer goes away in the middle") {
  const std::string image = tour.installDir + "/programs/atmega103.bin";
  const std::string com = std::to_string(MainForm->ComNumber);
  // At the speed of a real line, so that the download is still running when
  // the programmer stops.
  VprogProcess vprog;
  const bool started = vprog.Start(tour.installDir + "/talvorin-vprog",
                                   {"--install", tour.installDir, "--com", com, "--pace", "--store", "/dev/null"});
  tour.check(started, "the virtual programmer started");
  if (!started) return;

  std::string shown;
  tour.modal([] { MainForm->Download1->trigger(); },
             [&](QWidget*) {
               DForm->Edit1->setText(QString::fromLocal8Bit(image));
               ShotWithMessage(tour, DForm, "download-programmer-gone", &shown);
               auto* unplug = new QTimer(DForm);
               QObject::connect(unplug, &QTimer::timeout, [&tour, &vprog, unplug] {
                 if (DForm->PBar->value() < 2) return;
                 unplug->stop();
                 tour.say("the virtual programmer stops after " + std::to_string(DForm->PBar->value()) + " of " +
                          std::to_string(DForm->PBar->maximum()) + " blocks");
                 vprog.Stop();
               });
               unplug->start(5);
               DForm->BitBtn1->click();
               tour.say(std::string("Start ") + (DForm->BitBtn1->isEnabled() ? "enabled" : "disabled") + ", Stop " +
                        (DForm->BitBtn3->isEnabled() ? "enabled" : "disabled"));
               DForm->BitBtn2->click();
             });
  tour.check(shown.rfind("COM" + com + " was disconnected.", 0) == 0, "the message says the programmer went away");
}

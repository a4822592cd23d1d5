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

// Screenshots the dialog with its final message up, then closes the message.
void ShotWithMessage(Tour& tour, QWidget* form, const std::string& name) {
  auto* poll = new QTimer(form);
  QObject::connect(poll, &QTimer::timeout, [&tour, poll, form, name] {
    if (!MsgDlg || !MsgDlg->isVisible()) return;
    poll->stop();
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

#include "support/DialogSession.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "forms/Dlg.h"
#include "platform/winapi.h"
#include "support/Modal.h"

namespace {

template <class Form>
bool Open(TMainForm& main, Qt::Key key, Form*& global, const std::function<void(Form&)>& act) {
  main.windowHandle()->requestActivate();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
  return WithModal([&] { QTest::keyClick(&main, key, Qt::ControlModifier); },
                   [&](QWidget* window) {
                     ASSERT_EQ(window, global);
                     act(*global);
                   });
}

}  // namespace

MessageAnswerer::MessageAnswerer() {
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [this] {
    if (!MsgDlg || !MsgDlg->isVisible()) return;
    shown.push_back(MsgDlg->Label->text().toStdString() + "|" + MsgDlg->windowTitle().toStdString());
    owners.push_back(MsgDlg->parentWidget());
    MsgDlg->BitBtn1->click();
  });
  timer.start();
}

DialogSession::~DialogSession() { MainForm = nullptr; }

void DialogSession::mapCom1(const std::string& device) const {
  EXPECT_TRUE(WritePrivateProfileStringA("COM devices", "COM1", device.c_str(), install.file("Talvorin.ini").c_str()));
}

void DialogSession::showMain() {
  main = std::make_unique<TMainForm>();
  MainForm = main.get();
  main->show();
}

bool DialogSession::upload(const std::function<void(TUForm&)>& act) {
  return Open<TUForm>(*main, Qt::Key_U, UForm, act);
}

bool DialogSession::download(const std::function<void(TDForm&)>& act) {
  return Open<TDForm>(*main, Qt::Key_D, DForm, act);
}

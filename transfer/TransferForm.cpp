#include "transfer/TransferForm.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <stdexcept>

#include "app/Dlg.h"
#include "app/Forms.h"
#include "app/Main.h"
#include "app/MessageBoxes.h"
#include "platform/winapi.h"

TTransferForm::TTransferForm(QWidget* owner) : QDialog(owner) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  ApplyFormStyle(this);
}

void TTransferForm::BitBtn3Click() { Stop = true; }

void TTransferForm::BitBtn2Click() {
  Stop = true;
  close();
}

void TTransferForm::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TTransferForm::SetStartEnabled(bool enabled) { BitBtn1->setEnabled(enabled); }

void TTransferForm::SetStopEnabled(bool enabled) { BitBtn3->setEnabled(enabled); }

void TTransferForm::ShowMessage(const std::string& text, const std::string& caption) {
  ShowMessageDialog(this, caption, text);
}

void TTransferForm::done(int result) {
  if (transferring) {
    // The transfer sees the stop flag (when Close set it) at its next check;
    // the dialog closes once Start has returned.
    closePending = true;
    closeResult = result;
    return;
  }
  closePending = false;
  bool canClose = true;
  FormCloseQuery(canClose);
  if (!canClose) return;
  FormClose();
  QDialog::done(result);
}

bool TTransferForm::OpenPort(const std::string& captionPrefix) {
  const std::string number = std::to_string(MainForm->ComNumber);
  try {
    if (Comm1.Enabled()) Comm1.Close();
    Comm1.SetDeviceName("COM" + number);
    Comm1.Open();
    // A port that did not open fails here with its "not open" error.
    Comm1.SetRTSState(true);
    Comm1.SetDTRState(true);
  } catch (const std::exception&) {
    AppMessageBox("COM" + number + " can not be opened.\nIt may be used by another program.", "ERROR",
                  MB_OK | MB_ICONINFORMATION);
    return false;
  }
  setWindowTitle(QString::fromLocal8Bit(captionPrefix + number));
  return true;
}

// Escape belongs to the running transfer (through the key state), never to
// the dialog: there is no cancel button to close it.
void TTransferForm::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

QPushButton* NewTransferButton(QWidget* parent, const char* name, const QIcon& icon, const char* caption,
                               const QRect& place) {
  auto* button = new QPushButton(icon, QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setGeometry(place);
  return button;
}

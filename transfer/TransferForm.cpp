#include "transfer/TransferForm.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

#include "forms/Dlg.h"
#include "forms/Forms.h"
#include "forms/MessageBoxes.h"
#include "platform/winapi.h"

TTransferForm::TTransferForm(QWidget* owner, std::int32_t comNumber) : QDialog(owner), comNumber(comNumber) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  ApplyFormStyle(this);
}

void TTransferForm::Edit1Change() { BitBtn1->setEnabled(!Edit1->text().isEmpty()); }

// Enter starts even when Start is disabled (an empty name included).
void TTransferForm::Edit1KeyPress(char& Key) {
  if (Key == '\r') BitBtn1Click();
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
  const std::string number = std::to_string(comNumber);
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

void TTransferForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    CenterOver(this, parentWidget());
    FormShow();
  }
  QDialog::showEvent(event);
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

void TTransferForm::CreateEdit(const QRect& place) {
  // The edit box lies over the frame, not inside it.
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(place);
  connect(Edit1, &QLineEdit::textChanged, this, &TTransferForm::Edit1Change);
  connect(Edit1, &QLineEdit::returnPressed, this, [this] {
    char key = '\r';
    Edit1KeyPress(key);
  });
}

namespace {

// No default-button behaviour: Enter in the edit box reaches only the edit
// box's own handler.
QPushButton* NewButton(QWidget* parent, const char* name, QStyle::StandardPixmap picture, const char* caption,
                       const QRect& place) {
  auto* button = new QPushButton(parent->style()->standardIcon(picture), QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  button->setGeometry(place);
  return button;
}

}  // namespace

void TTransferForm::CreateButtons(const QRect& start, const QRect& stop, const QRect& close) {
  BitBtn1 = NewButton(this, "BitBtn1", QStyle::SP_DriveNetIcon, "Start", start);
  BitBtn1->setIconSize(QSize(25, 21));
  BitBtn1->setEnabled(false);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  BitBtn3 = NewButton(this, "BitBtn3", QStyle::SP_BrowserStop, "Stop", stop);
  BitBtn3->setEnabled(false);
  connect(BitBtn3, &QPushButton::clicked, this, &TTransferForm::BitBtn3Click);
  BitBtn2 = NewButton(this, "BitBtn2", QStyle::SP_DialogCloseButton, "Close", close);
  connect(BitBtn2, &QPushButton::clicked, this, &TTransferForm::BitBtn2Click);
}

#include "transfer/TransferForm.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStyle>
#include <QTimer>

#include "controls/PictureButton.h"
#include "controls/Pictures.h"
#include "forms/Dlg.h"
#include "forms/Forms.h"
#include "forms/MessageBoxes.h"
#include "platform/winapi.h"
#include "texts/Texts.h"
#include "transfer/PortMessage.h"
#include "transfer/TransferLine.h"

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

// The rests of one transfer. The event loop waits for everything at once: a
// window event (Escape, Stop, Close), a serial watcher's hand-over, the
// port's arrival descriptor (with its heartbeat), and a one-shot timer for
// the rest's limit, when it has one. The
// notifier stays on for the whole transfer and takes note of each arrival
// as it is reported, so that message boxes shown meanwhile do not see the
// descriptor ready again and again; an arrival reported before a rest ends
// that rest at once.
class TTransferForm::PassRest {
 public:
  PassRest(TTransferForm& form, PortArrivals* arrivals) : form(form), arrivals(arrivals) {
    form.passRest = this;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    if (!arrivals || arrivals->Descriptor() < 0) return;
    notifier = std::make_unique<QSocketNotifier>(arrivals->Descriptor(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] {
      this->arrivals->Forget();
      arrived = true;
    });
  }
  ~PassRest() { form.passRest = nullptr; }
  PassRest(const PassRest&) = delete;
  PassRest& operator=(const PassRest&) = delete;

  bool Watches(TransferPort& port) const { return port.Arrivals() == arrivals; }

  void Await(int timeoutMs) {
    if (!arrived) {
      const int limit = RestLimit(arrivals, timeoutMs);
      if (limit >= 0) timer.start(limit);
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      timer.stop();
    }
    arrived = false;
  }

 private:
  TTransferForm& form;
  PortArrivals* const arrivals;
  std::unique_ptr<QSocketNotifier> notifier;
  QTimer timer;
  bool arrived = false;
};

void TTransferForm::AwaitMore(TransferPort& port, int timeoutMs) {
  if (passRest && passRest->Watches(port))
    passRest->Await(timeoutMs);
  else
    TransferHost::AwaitMore(port, timeoutMs);
}

void TTransferForm::RunTransfer(const std::function<void(TransferPort&)>& transfer) {
  if (transferring) return;
  transferring = true;
  {
    PortOf<TComm> port(Comm1);
    const PassRest rest(*this, port.Arrivals());
    transfer(port);
  }
  transferring = false;
  if (closePending) done(closeResult);
}

std::uint32_t TTransferForm::Now() { return timeGetTime(); }

// Any non-zero answer counts: the key is down now, or was pressed since the
// previous query.
bool TTransferForm::EscapePressed() { return GetAsyncKeyState(VK_ESCAPE) != 0; }

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

bool TTransferForm::OpenPort(std::string (*caption)(std::int32_t comNumber)) {
  if (!OpenTransferLine(Comm1, "COM" + std::to_string(comNumber), openError)) return false;
  setWindowTitle(QString::fromLocal8Bit(caption(comNumber)));
  return true;
}

void TTransferForm::ShowPortMessage() {
  const PortOpenFailure why = ExplainPortOpenFailure("COM" + std::to_string(comNumber), openError);
  AppMessageBox(PortOpenMessage(comNumber, why), Texts::ErrorCaption, MB_OK | MB_ICONINFORMATION);
}

void TTransferForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    CenterOver(this, parentWidget());
    FormShow();
  }
  QDialog::showEvent(event);
}

// Escape belongs to the running transfer (through the key state), never to
// the dialog: there is no cancel button to close it. Enter presses the
// focused button, as in a Windows dialog; the buttons are no default
// buttons, so that Enter in the edit box stays the edit box's own.
void TTransferForm::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  auto* button = qobject_cast<QAbstractButton*>(focusWidget());
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && button && button->isEnabled()) {
    event->accept();
    button->click();
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
QPushButton* PlaceButton(QPushButton* button, const char* name, const QRect& place) {
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  button->setGeometry(place);
  return button;
}

QPushButton* NewButton(QWidget* parent, const char* name, QStyle::StandardPixmap picture, const char* caption,
                       const QRect& place) {
  return PlaceButton(new QPushButton(parent->style()->standardIcon(picture), QString::fromLatin1(caption), parent),
                     name, place);
}

}  // namespace

void TTransferForm::CreateButtons(const QRect& start, const QRect& stop, const QRect& close) {
  BitBtn1 =
      PlaceButton(new TPictureButton(LinkedComputersPicture(), QStringLiteral("Start"), 2, this), "BitBtn1", start);
  BitBtn1->setIconSize(QSize(25, 21));
  BitBtn1->setEnabled(false);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  BitBtn3 = NewButton(this, "BitBtn3", QStyle::SP_BrowserStop, "Stop", stop);
  BitBtn3->setEnabled(false);
  connect(BitBtn3, &QPushButton::clicked, this, &TTransferForm::BitBtn3Click);
  BitBtn2 = NewButton(this, "BitBtn2", QStyle::SP_DialogCloseButton, "Close", close);
  connect(BitBtn2, &QPushButton::clicked, this, &TTransferForm::BitBtn2Click);
}

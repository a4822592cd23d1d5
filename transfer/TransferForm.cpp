#include "transfer/TransferForm.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTimer>

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

// A button whose picture and caption stand a given number of pixels apart,
// centred together. Styles put a space of their own choosing between the two,
// so the label is drawn here; the frame, face and focus stay the style's.
class PictureButton final : public QPushButton {
 public:
  PictureButton(const QIcon& picture, const QString& caption, int spacing, QWidget* parent)
      : QPushButton(picture, caption, parent), spacing(spacing) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    QStyleOptionButton frame = option;
    frame.icon = QIcon();
    frame.text.clear();
    painter.drawControl(QStyle::CE_PushButton, frame);

    QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (option.state & (QStyle::State_Sunken | QStyle::State_On))
      area.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                     style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    const QPixmap picture =
        icon().pixmap(iconSize(), devicePixelRatioF(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
    const QSize pictureSize = picture.deviceIndependentSize().toSize();
    const int captionWidth = option.fontMetrics.size(Qt::TextShowMnemonic, text()).width();
    const int left = area.x() + (area.width() - pictureSize.width() - spacing - captionWidth) / 2;
    painter.drawPixmap(left, area.y() + (area.height() - pictureSize.height()) / 2, picture);
    const QRect captionArea(left + pictureSize.width() + spacing, area.y(), captionWidth, area.height());
    style()->drawItemText(&painter, captionArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                          option.palette, isEnabled(), text(), QPalette::ButtonText);
  }

 private:
  int spacing;
};

// Two computers joined by a cable, 25 x 21, reaching both edges; the greyed
// form for the disabled button is derived from it.
QIcon LinkedComputersPicture() {
  QPixmap picture(25, 21);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  const auto computer = [&](int x, int y) {
    painter.setPen(Qt::black);
    painter.setBrush(QColor(192, 192, 192));
    painter.drawRect(x, y, 10, 7);
    painter.fillRect(x + 2, y + 2, 7, 4, QColor(0, 128, 128));
    painter.fillRect(x + 4, y + 8, 3, 1, Qt::black);
    painter.drawRect(x + 2, y + 9, 6, 1);
  };
  computer(0, 0);
  computer(14, 10);
  painter.setPen(QColor(0, 0, 128));
  painter.drawPolyline(QPolygon({QPoint(5, 11), QPoint(5, 14), QPoint(13, 14)}));
  return QIcon(picture);
}

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
      PlaceButton(new PictureButton(LinkedComputersPicture(), QStringLiteral("Start"), 2, this), "BitBtn1", start);
  BitBtn1->setIconSize(QSize(25, 21));
  BitBtn1->setEnabled(false);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  BitBtn3 = NewButton(this, "BitBtn3", QStyle::SP_BrowserStop, "Stop", stop);
  BitBtn3->setEnabled(false);
  connect(BitBtn3, &QPushButton::clicked, this, &TTransferForm::BitBtn3Click);
  BitBtn2 = NewButton(this, "BitBtn2", QStyle::SP_DialogCloseButton, "Close", close);
  connect(BitBtn2, &QPushButton::clicked, this, &TTransferForm::BitBtn2Click);
}

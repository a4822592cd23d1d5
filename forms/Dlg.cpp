#include "forms/Dlg.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

#include "forms/Forms.h"
#include "platform/winapi.h"
#include "texts/Texts.h"

TMsgDlg* MsgDlg = nullptr;

namespace {

// The information picture: a white speech balloon with a blue "i" and a grey
// outline, on a transparent ground.
QPixmap InformationBalloon() {
  QPixmap picture(33, 33);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath balloon;
  balloon.addEllipse(QRectF(1.5, 1.5, 30, 23));
  QPainterPath tail;
  tail.moveTo(7, 19);
  tail.lineTo(4, 31);
  tail.lineTo(15, 23);
  tail.closeSubpath();
  balloon = balloon.united(tail);
  painter.setPen(QPen(QColor(128, 128, 128), 1));
  painter.setBrush(Qt::white);
  painter.drawPath(balloon);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 255));
  painter.drawEllipse(QRectF(14.5, 4, 4, 4));
  painter.drawRect(QRectF(14.5, 10, 4, 11));
  return picture;
}

}  // namespace

TMsgDlg::TMsgDlg(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("MsgDlg"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  ApplyFormStyle(this);
  setWindowTitle(QString::fromLatin1(Texts::MessageDialogTitle));
  const QPixmap balloon = InformationBalloon();
  setWindowIcon(QIcon(balloon.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
  setFixedSize(303, 75);

  // The check mark, the glyph of the standard OK button.
  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(120, 48, 75, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &TMsgDlg::BitBtn1Click);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(3, 4, 33, 33);
  Image1->setPixmap(balloon);

  Label = new QLabel(QStringLiteral("Label"), this);
  Label->setObjectName(QStringLiteral("Label"));
  Label->setTextFormat(Qt::PlainText);
  Label->setWordWrap(false);
  ApplyFormStyle(Label, 16);
  Label->setGeometry(40, 2, 39, 20);
}

void TMsgDlg::SetCaption(const std::string& caption) { setWindowTitle(QString::fromLocal8Bit(caption)); }

void TMsgDlg::SetText(const std::string& text) { Label->setText(QString::fromLocal8Bit(text)); }

int TMsgDlg::ShowModal() { return exec(); }

void TMsgDlg::BitBtn1Click() { accept(); }

void TMsgDlg::FormShow() {
  Label->adjustSize();
  const int labelBottom = Label->y() + Label->height();
  const int clientWidth = Label->x() + Label->width() + 10;
  const int clientHeight = labelBottom + BitBtn1->height() + 20;
  setFixedSize(clientWidth, clientHeight);
  // Centred by the formula even when that puts the button's left edge
  // outside a narrow dialog.
  BitBtn1->move((clientWidth - BitBtn1->width()) / 2, labelBottom + 15);
  MessageBeep(MB_ICONASTERISK);
}

void TMsgDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    CenterOver(this, parentWidget());
  }
  QDialog::showEvent(event);
}

// There is no cancel button: Escape leaves the message up.
void TMsgDlg::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ShowMessageDialog(QWidget* owner, const std::string& caption, const std::string& text) {
  MsgDlg = new TMsgDlg(owner);
  MsgDlg->SetCaption(caption);
  MsgDlg->SetText(text);
  MsgDlg->ShowModal();
  delete MsgDlg;
  MsgDlg = nullptr;
}

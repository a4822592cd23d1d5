#include "transfer/Upload.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "controls/imGauge.h"
#include "platform/Files.h"
#include "texts/Texts.h"
#include "transfer/TransferLine.h"

TUForm* UForm = nullptr;

TUForm::TUForm(QWidget* owner, std::int32_t comNumber) : TTransferForm(owner, comNumber) {
  setObjectName(QStringLiteral("UForm"));
  setFixedSize(291, 83);

  SetUploadLine(Comm1);

  GroupBox1 = new QGroupBox(QStringLiteral(" Full path file name you want to save ."), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(0, 0, 291, 54);

  CreateEdit(QRect(6, 14, 253, 24));
  QFont editFont = Edit1->font();
  editFont.setPixelSize(13);
  Edit1->setFont(editFont);

  SpeedButton1 = new QToolButton(GroupBox1);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setAutoRaise(true);
  SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
  SpeedButton1->setIconSize(QSize(16, 16));
  SpeedButton1->setGeometry(260, 14, 25, 24);
  // Reached by Tab, but a click leaves the focus where it was.
  SpeedButton1->setFocusPolicy(Qt::TabFocus);
  connect(SpeedButton1, &QToolButton::clicked, this, &TUForm::SpeedButton1Click);

  imGauge1 = new TimGauge(GroupBox1);
  imGauge1->setObjectName(QStringLiteral("imGauge1"));
  imGauge1->setGeometry(7, 42, 278, 7);
  imGauge1->SetGaugeDirection(gdLeft);
  imGauge1->SetGaugeSize(40);
  imGauge1->SetBackColor(clBlue);

  CreateButtons(QRect(1, 57, 75, 25), QRect(136, 57, 75, 25), QRect(216, 57, 75, 25));

  SaveDialog1 = new QFileDialog(this);
  SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setFileMode(QFileDialog::AnyFile);
  // The toolkit's own dialog, the same everywhere. An existing file is
  // replaced without a further question.
  SaveDialog1->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite |
                          QFileDialog::HideNameFilterDetails);
  // "*.*" matches every file only on Windows; "*" does so here, and the list
  // shows just the description.
  SaveDialog1->setNameFilter(QStringLiteral("All file format ( *.* ) (*)"));

  setTabOrder(BitBtn1, Edit1);
  setTabOrder(Edit1, SpeedButton1);
  setTabOrder(SpeedButton1, BitBtn2);
  setTabOrder(BitBtn2, BitBtn3);
}

void TUForm::FormShow() {
  const bool opened = OpenPort(Texts::UploadCaption);
  Edit1->setEnabled(opened);
  SpeedButton1->setEnabled(opened);
  if (opened) return;
  // Only Close is left, before the message says why.
  BitBtn1->setEnabled(false);
  ShowPortMessage();
}

void TUForm::SpeedButton1Click() {
  if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
  Edit1->setText(QDir::toNativeSeparators(SaveDialog1->selectedFiles().first()));
}

void TUForm::BitBtn1Click() {
  RunTransfer([this](TransferPort& port) {
    RunUpload(port, *this, Edit1->text().toLocal8Bit().toStdString(), NameMatch::Caseless);
  });
}

void TUForm::ProgressReset() { imGauge1->SetPercent(0); }

void TUForm::ProgressStep() { imGauge1->Advance(1); }

// The transfer releases its buffer and file when it ends; what is left is the port.
void TUForm::FormCloseQuery(bool& CanClose) {
  if (Comm1.Enabled()) Comm1.Close();
  CanClose = true;
}

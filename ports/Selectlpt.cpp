#include "ports/Selectlpt.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

#include "forms/Forms.h"
#include "forms/MessageBoxes.h"
#include "platform/Paths.h"
#include "platform/winapi.h"
#include "ports/PortSettings.h"
#include "texts/Texts.h"

TLPTForm* LPTForm = nullptr;
bool Confirmed = false;

namespace {

QComboBox* NewChooser(QWidget* parent, const char* name, const char* prefix, int count, int top) {
  auto* chooser = new QComboBox(parent);
  chooser->setObjectName(QString::fromLatin1(name));
  chooser->setEditable(true);
  chooser->setInsertPolicy(QComboBox::NoInsert);
  for (int i = 1; i <= count; ++i) {
    chooser->addItem(QStringLiteral("%1 %2").arg(QLatin1String(prefix)).arg(i));
    chooser->setItemData(i - 1, QSize(0, 13), Qt::SizeHintRole);
  }
  chooser->setGeometry(8, top, 177, 21);
  return chooser;
}

QGroupBox* NewFrame(QWidget* parent, const char* name, const char* caption, int top) {
  auto* frame = new QGroupBox(QString::fromLatin1(caption), parent);
  frame->setObjectName(QString::fromLatin1(name));
  frame->setGeometry(0, top, 192, 44);
  return frame;
}

// The entry the chooser's text field names, or -1. Text typed into the field
// that names no entry is no selection.
int SelectedIndex(const QComboBox* chooser) {
  const int current = chooser->currentIndex();
  if (current >= 0 && chooser->itemText(current) == chooser->currentText()) return current;
  return chooser->findText(chooser->currentText(), Qt::MatchFixedString);
}

void Select(QComboBox* chooser, int index) {
  chooser->setCurrentIndex(index >= 0 && index < chooser->count() ? index : -1);
}

}  // namespace

TLPTForm::TLPTForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("LPTForm"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  ApplyFormStyle(this);
  setWindowTitle(QString::fromLatin1(Texts::PortDialogTitle));
  setFixedSize(193, 121);

  // The frames lie behind the choosers, not around them.
  GroupBox1 = NewFrame(this, "GroupBox1", "LPT Port : ", -1);
  ComboBox1 = NewChooser(this, "ComboBox1", "LPT", 3, 14);
  GroupBox2 = NewFrame(this, "GroupBox2", "COM Port :", 45);
  ComboBox2 = NewChooser(this, "ComboBox2", "COM", 4, 60);

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("&OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(2, 95, 81, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] {
    BitBtn1Click();
    accept();
  });

  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("&Cancel"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(109, 95, 81, 25);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(ComboBox1, ComboBox2);
  setTabOrder(ComboBox2, BitBtn1);
  setTabOrder(BitBtn1, BitBtn2);
}

void TLPTForm::FormShow() {
  Confirmed = false;
  Select(ComboBox1, ReadLptIndex());
  Select(ComboBox2, ReadComIndex());
}

void TLPTForm::BitBtn1Click() { Confirmed = true; }

void TLPTForm::FormCloseQuery(bool& CanClose) {
  CanClose = true;
  if (!Confirmed) return;
  const int lpt = SelectedIndex(ComboBox1);
  const int com = SelectedIndex(ComboBox2);
  WriteComIndex(com);
  if (FileExists(PrnportPath()))
    WriteLptIndex(lpt);
  else
    AppMessageBox(Texts::PrnportMissingForSave(PrnportPath()), Texts::ErrorCaption, MB_OK | MB_ICONINFORMATION);
  emit ChoiceSaved(lpt + 1, com + 1);
}

// A refused write is reported and keeps the dialog open; Confirmed stays set,
// so the next close of this showing tries to save again.
void TLPTForm::done(int result) {
  bool canClose = true;
  if (RunReportingErrors([&] { FormCloseQuery(canClose); }) && canClose) QDialog::done(result);
}

void TLPTForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    CenterOver(this, parentWidget());
  }
  QDialog::showEvent(event);
}

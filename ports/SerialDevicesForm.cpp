#include "ports/SerialDevicesForm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStyle>

#include "forms/Forms.h"
#include "forms/MessageBoxes.h"
#include "ports/PortSettings.h"
#include "texts/Texts.h"

namespace {

QString Local(const std::string& text) { return QString::fromLocal8Bit(text); }

}  // namespace

TSerialDevicesForm::TSerialDevicesForm(QWidget* owner, std::unique_ptr<SerialDeviceSource> devices)
    : QDialog(owner), source(std::move(devices)), saved(ComCount), entries(ComCount) {
  setObjectName(QStringLiteral("SerialDevicesForm"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  ApplyFormStyle(this);
  setWindowTitle(QString::fromLatin1(Texts::SerialDevicesTitle));

  auto* rows = new QGridLayout;
  QLabel** labels[] = {&Label1, &Label2, &Label3, &Label4};
  QComboBox** choosers[] = {&ComboBox1, &ComboBox2, &ComboBox3, &ComboBox4};
  for (int i = 0; i < ComCount; ++i) {
    auto* chooser = new QComboBox(this);
    chooser->setObjectName(QStringLiteral("ComboBox%1").arg(i + 1));
    chooser->setEditable(true);
    chooser->setInsertPolicy(QComboBox::NoInsert);
    // A typed path stays as typed: no completion from the entries' labels.
    chooser->setCompleter(nullptr);
    chooser->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    chooser->setMinimumContentsLength(60);
    auto* label = new QLabel(QStringLiteral("COM&%1:").arg(i + 1), this);
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    label->setBuddy(chooser);
    rows->addWidget(label, i, 0);
    rows->addWidget(chooser, i, 1);
    *labels[i] = label;
    *choosers[i] = chooser;
  }

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("&OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setDefault(true);
  BitBtn1->setMinimumWidth(81);
  connect(BitBtn1, &QPushButton::clicked, this, &TSerialDevicesForm::BitBtn1Click);
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("&Cancel"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setMinimumWidth(81);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(rows);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  if (source->ChangeDescriptor() >= 0) {
    notifier = new QSocketNotifier(source->ChangeDescriptor(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TSerialDevicesForm::DevicesChanged);
  }
}

TSerialDevicesForm::~TSerialDevicesForm() = default;

QComboBox* TSerialDevicesForm::Chooser(int number) const {
  QComboBox* const choosers[] = {ComboBox1, ComboBox2, ComboBox3, ComboBox4};
  return choosers[number - 1];
}

void TSerialDevicesForm::FormShow() {
  for (int n = 1; n <= ComCount; ++n) {
    saved[n - 1] = ComDeviceFromSettings(n);
    entries[n - 1].clear();
  }
  Fill();
}

// The entry whose label the chooser's field shows, or -1 for a typed text.
int TSerialDevicesForm::EntryShown(int number) const {
  const QComboBox* chooser = Chooser(number);
  const QString text = chooser->currentText();
  const int current = chooser->currentIndex();
  if (current >= 0 && chooser->itemText(current) == text) return current;
  return chooser->findText(text, Qt::MatchExactly);
}

std::string TSerialDevicesForm::ChosenDevice(int number) const {
  const int entry = EntryShown(number);
  if (entry >= 0 && entry < static_cast<int>(entries[number - 1].size())) return entries[number - 1][entry].device;
  return Chooser(number)->currentText().trimmed().toLocal8Bit().toStdString();
}

// Lists the ports present again; each chooser keeps its choice, a device
// that went away as not connected, and a typed text as typed.
void TSerialDevicesForm::Fill() {
  const std::vector<SerialDeviceRecord> ports = SerialPorts(source->Present());
  for (int n = 1; n <= ComCount; ++n) {
    QComboBox* chooser = Chooser(n);
    const bool filled = !entries[n - 1].empty();
    const bool typed = filled && EntryShown(n) < 0;
    const QString text = chooser->currentText();
    const int cursor = chooser->lineEdit()->cursorPosition();
    const std::string chosen = filled ? ChosenDevice(n) : saved[n - 1];
    std::vector<std::string> kept{saved[n - 1]};
    if (!typed && chosen != saved[n - 1]) kept.push_back(chosen);

    entries[n - 1] = ComDeviceEntries(n, ports, kept);
    chooser->clear();
    for (const ComDeviceEntry& entry : entries[n - 1]) chooser->addItem(Local(entry.label));
    if (typed) {
      chooser->setCurrentIndex(-1);
      chooser->setEditText(text);
      chooser->lineEdit()->setCursorPosition(cursor);
    } else {
      chooser->setCurrentIndex(FindComDeviceEntry(entries[n - 1], chosen));
    }
  }
}

void TSerialDevicesForm::DevicesChanged() {
  if (source->TakeChanges()) Fill();
}

void TSerialDevicesForm::BitBtn1Click() {
  std::vector<std::string> devices;
  for (int n = 1; n <= ComCount; ++n) devices.push_back(ChosenDevice(n));
  if (RunReportingErrors([&] { WriteComDevices(devices); })) accept();
}

void TSerialDevicesForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    CenterOver(this, parentWidget());
  }
  QDialog::showEvent(event);
}

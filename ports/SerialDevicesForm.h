// The serial devices dialog: for COM1 to COM4 the device the number leads
// to, chosen from the serial ports present or typed in, saved to section
// "COM devices" of "Talvorin.ini" with OK. The list follows devices being
// plugged in and out while the dialog is open.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialDevices.h"
#include "ports/ComDevices.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSocketNotifier;

class TSerialDevicesForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int ComCount = 4;

  // The dialog lists what source finds, now and whenever it tells a change.
  TSerialDevicesForm(QWidget* owner, std::unique_ptr<SerialDeviceSource> source);
  ~TSerialDevicesForm() override;

  QLabel* Label1;
  QComboBox* ComboBox1;
  QLabel* Label2;
  QComboBox* ComboBox2;
  QLabel* Label3;
  QComboBox* ComboBox3;
  QLabel* Label4;
  QComboBox* ComboBox4;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

  void FormShow();
  // Saves and closes; a refused write is reported and the dialog stays.
  void BitBtn1Click();
  // The device chosen for COM number n: an entry's, or a typed path; empty
  // for no mapping.
  std::string ChosenDevice(int number) const;
  QComboBox* Chooser(int number) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void DevicesChanged();
  void Fill();
  int EntryShown(int number) const;

  std::unique_ptr<SerialDeviceSource> source;
  QSocketNotifier* notifier = nullptr;
  // Per COM number: the mapping in the file when the dialog was shown, and
  // the entries of its chooser.
  std::vector<std::string> saved;
  std::vector<std::vector<ComDeviceEntry>> entries;
};

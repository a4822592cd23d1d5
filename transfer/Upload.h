// The upload dialog: receives a memory image from the programmer into a file
// whose full path the user types or picks with a save-file dialog.
#pragma once

#include "transfer/TransferForm.h"

class QFileDialog;
class QGroupBox;
class QToolButton;
class TimGauge;

class TUForm : public TTransferForm {
  Q_OBJECT

 public:
  TUForm(QWidget* owner, std::int32_t comNumber);

  QGroupBox* GroupBox1;
  QToolButton* SpeedButton1;
  TimGauge* imGauge1;
  QFileDialog* SaveDialog1;

  void FormShow() override;
  void SpeedButton1Click();
  void BitBtn1Click() override;

  // The gauge shows that the transfer is alive: one step per polling pass.
  void ProgressReset() override;
  void ProgressStep() override;

 protected:
  void FormCloseQuery(bool& CanClose) override;
};

extern TUForm* UForm;

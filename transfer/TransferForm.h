// What the upload and download dialogs share: the serial port they own, the
// stop flag, the Start, Stop and Close buttons, and a close that waits for a
// running transfer. Each dialog is the transfer's host: the protocol polls
// through it and it turns the outcomes into button states and messages.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "comm/Comm.h"
#include "transfer/BlockProtocol.h"

class QLineEdit;
class QPushButton;

class TTransferForm : public QDialog, public TransferHost {
  Q_OBJECT

 public:
  // comNumber: the port the dialog opens, "COM" + comNumber.
  TTransferForm(QWidget* owner, std::int32_t comNumber);

  TComm Comm1;
  bool Stop = false;

  // The file name, and Start, Stop and Close, placed by each dialog.
  QLineEdit* Edit1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QPushButton* BitBtn2 = nullptr;

  // Opens the port when the dialog is shown.
  virtual void FormShow() = 0;
  void Edit1Change();
  void Edit1KeyPress(char& Key);
  virtual void BitBtn1Click() = 0;
  void BitBtn3Click();
  void BitBtn2Click();

  // True while a Start runs its transfer.
  bool Transferring() const { return transferring; }

  // TransferHost: the services the protocol polls.
  void ProcessMessages() override;
  bool StopRequested() override { return Stop; }
  void ClearStop() override { Stop = false; }
  void SetStartEnabled(bool enabled) override;
  void SetStopEnabled(bool enabled) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;

  // Every close request ends here: during a transfer it is remembered and
  // carried out once the transfer has returned.
  void done(int result) override;

 protected:
  // Opens "COM" + the dialog's port number and raises RTS and DTR; the
  // caption becomes caption(the number). False when any step fails.
  bool OpenPort(std::string (*caption)(std::int32_t comNumber));
  // The message for a port that OpenPort could not open, with the reason
  // when the system tells it; the dialog disables what cannot be used before it.
  void ShowPortMessage();
  void CreateEdit(const QRect& place);
  // Start (with a picture of two linked computers), Stop and Close.
  void CreateButtons(const QRect& start, const QRect& stop, const QRect& close);
  // Runs a transfer unless one runs already.
  template <class F>
  void RunTransfer(F&& transfer) {
    if (transferring) return;
    transferring = true;
    PortOf<TComm> port(Comm1);
    transfer(static_cast<TransferPort&>(port));
    transferring = false;
    if (closePending) done(closeResult);
  }
  // The dialog's close handlers, run when it is about to close and then
  // when it closes.
  virtual void FormCloseQuery(bool& CanClose) = 0;
  virtual void FormClose() {}

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  const std::int32_t comNumber;
  DWORD openError = ERROR_SUCCESS;  // what the device's opening left, when it did not open
  bool transferring = false;
  bool closePending = false;
  int closeResult = Rejected;
};

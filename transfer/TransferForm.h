// What the upload and download dialogs share: the serial port they own, the
// stop flag, the Start, Stop and Close buttons, and a close that waits for a
// running transfer. Each dialog is the transfer's host: the protocol polls
// through it, rests between passes in its event loop, and it turns the
// outcomes into button states and messages.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
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

  // TransferHost: the services the protocol polls; the clock and the key
  // are the system's.
  std::uint32_t Now() override;
  bool EscapePressed() override;
  void ProcessMessages() override;
  // Waits in the event loop for window events, the port's arrivals and
  // heartbeat, and the rest's time limit together, whichever comes first.
  void AwaitMore(TransferPort& port, int timeoutMs) override;
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
  // Runs a transfer on Comm1 unless one runs already.
  void RunTransfer(const std::function<void(TransferPort&)>& transfer);
  // The dialog's close handlers, run when it is about to close and then
  // when it closes.
  virtual void FormCloseQuery(bool& CanClose) = 0;
  virtual void FormClose() {}

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class PassRest;

  const std::int32_t comNumber;
  DWORD openError = ERROR_SUCCESS;  // what the device's opening left, when it did not open
  bool transferring = false;
  bool closePending = false;
  int closeResult = Rejected;
  PassRest* passRest = nullptr;  // while a transfer runs
};

// The small self-sizing message box of the transfer dialogs: an information
// picture, the message and an OK button.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

class TMsgDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TMsgDlg(QWidget* owner);

  QPushButton* BitBtn1;
  QLabel* Image1;
  QLabel* Label;

  void SetCaption(const std::string& caption);
  void SetText(const std::string& text);
  // Shows the dialog modally; returns when the user has closed it.
  int ShowModal();

  void BitBtn1Click();
  void FormShow();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

extern TMsgDlg* MsgDlg;

// One message, as the transfer dialogs report it: a new dialog owned by
// owner in MsgDlg, the caption and the text set, shown modally, destroyed.
void ShowMessageDialog(QWidget* owner, const std::string& caption, const std::string& text);

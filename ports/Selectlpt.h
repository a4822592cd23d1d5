// The port selection dialog: the LPT and COM choice, saved to the settings
// files when confirmed with OK and then reported to whoever shows the dialog.
#pragma once

#include <QDialog>
#include <cstdint>

class QComboBox;
class QGroupBox;
class QPushButton;

class TLPTForm : public QDialog {
  Q_OBJECT

 public:
  explicit TLPTForm(QWidget* owner);

  QGroupBox* GroupBox1;
  QComboBox* ComboBox1;
  QGroupBox* GroupBox2;
  QComboBox* ComboBox2;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

  void FormShow();
  void BitBtn1Click();
  void FormCloseQuery(bool& CanClose);

  // Every way of closing (OK, Cancel, Esc, the close box) ends up here.
  void done(int result) override;

 signals:
  // A confirmed choice has been saved; 1-based numbers, 0 for no selection.
  void ChoiceSaved(std::int32_t lptNumber, std::int32_t comNumber);

 protected:
  void showEvent(QShowEvent* event) override;
};

extern TLPTForm* LPTForm;
// Set by OK, cleared when the dialog is shown; a close saves only when set.
extern bool Confirmed;

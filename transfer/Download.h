// The download dialog: sends a file, picked with a drive picker, a directory
// list and a file list or typed as a full path, to the programmer.
#pragma once

#include <string>

#include "transfer/TransferForm.h"

class QComboBox;
class QGroupBox;
class QListWidget;
class QProgressBar;

class TDForm : public TTransferForm {
  Q_OBJECT

 public:
  TDForm(QWidget* owner, std::int32_t comNumber);

  QGroupBox* GroupBox1;
  QComboBox* DriveComboBox1;
  QListWidget* DirectoryListBox1;
  QListWidget* FileListBox1;
  QProgressBar* PBar;

  void FormShow() override;
  void FileListBox1Click();
  void BitBtn1Click() override;

  // The directory the lists show; choosing a drive or a directory moves it.
  const std::string& Directory() const { return directory; }
  void SetDirectory(const std::string& path);

  // The bar counts the blocks: its maximum is the block count, at least 1.
  void ProgressReset() override;
  void ProgressRange(int blocks) override;
  void ProgressStep() override;

 protected:
  void FormCloseQuery(bool& CanClose) override;
  void FormClose() override;

 private:
  void SetPickersColor(const QColor& color);
  std::string directory;
};

extern TDForm* DForm;

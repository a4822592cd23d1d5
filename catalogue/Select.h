// The device selection dialog: the user finds a device by vendor or by
// keyword and confirms it; the Change command reads the results.
#pragma once

#include <QDialog>
#include <QListView>
#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/Catalogue.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

// A sorted list box whose entries each carry a catalogue line. The whole list
// is replaced in one step, so that thousands of entries cost no more than a
// sort.
class TCatalogueListBox : public QListView {
  Q_OBJECT

 public:
  explicit TCatalogueListBox(QWidget* parent);

  void SetEntries(CatalogueEntryList entries);
  void Clear();
  int Count() const;
  const CatalogueEntry& Entry(int index) const;
  // The selected entry, or -1.
  int ItemIndex() const;
  // Selects an entry without running the selection handler.
  void SetItemIndex(int index);

 signals:
  // The user changed the selection (mouse, arrow or letter keys).
  void UserSelected();

 private:
  class Model;
  Model* items;
  bool settingIndex = false;
};

class TSelectForm : public QDialog {
  Q_OBJECT

 public:
  // Loads the catalogue; a missing or malformed one is reported and sets
  // CatalogueFailed. An unreadable one throws.
  explicit TSelectForm(QWidget* parent = nullptr);

  // The catalogue could not be used: there is nothing to choose from.
  bool CatalogueFailed = false;

  // Held from start-up until the main window closes and releases it.
  std::unique_ptr<CatalogueLineList> CatalogueLines;
  bool Chosen = false;
  std::string ProgramPath;
  std::string SelectedDevice;
  std::uint8_t EepromByte1 = 0;
  std::uint8_t EepromByte6 = 0;

  QGroupBox* GroupBox1;
  QLineEdit* SelectEdit;
  QGroupBox* GroupBox2;
  TCatalogueListBox* ListBox1;
  QGroupBox* GroupBox3;
  TCatalogueListBox* ListBox2;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QStatusBar* StatusBar1;

  // Shows the dialog modally; true when a device whose program image exists
  // was confirmed.
  bool Execute();

  std::string StatusText() const;
  std::string StatusHint() const;

  void FormShow();
  void ListBox1Click();
  void ListBox2Click();
  void SelectEditChange();
  void SelectEditKeyUp();
  void SelectEditKeyPress();
  void ListBox1KeyDown();
  void ListBox2KeyDown();
  void ListBox2DblClick();
  void BitBtn1Click();
  void FormKeyDown();
  void SelectEditEnter();
  void ListBox1Enter();
  void FormCloseQuery(bool& CanClose);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void ReportCatalogueFault(const char* text);
  void RequestClose();
  void EnterKeyDown(QObject* watched, Qt::KeyboardModifiers modifiers);
  void ListAllVendors();
  void SelectFirstVendor();
  void SelectFirstDevice();
  void SetStatusText(const std::string& text);
  const CatalogueLineList& Lines() const;
  std::string Keyword() const;

  QLabel* statusPanel;
};

extern TSelectForm* SelectForm;

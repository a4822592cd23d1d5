// The device selection dialog: the user finds a device by vendor or by
// keyword and confirms it; the Change command reads the results.
#pragma once

#include <QDialog>
#include <QListView>
#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/Catalogue.h"
#include "catalogue/Selection.h"

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

// The windows over DeviceSelection: every handler runs one of its rules and
// shows the state that the rule left.
class TSelectForm : public QDialog {
  Q_OBJECT

  // Declared first: the names below refer into it.
  DeviceSelection rules;

 public:
  // Loads the catalogue; a missing or malformed one is reported and sets
  // CatalogueFailed. An unreadable one throws.
  explicit TSelectForm(QWidget* parent = nullptr);

  // The catalogue could not be used: there is nothing to choose from.
  bool CatalogueFailed = false;

  // Held from start-up until the main window closes and releases it.
  std::unique_ptr<CatalogueLineList>& CatalogueLines = rules.CatalogueLines;
  // The rules' state under the dialog's names: the results are read once it
  // has closed. Only the rules change them.
  const bool& Chosen = rules.Chosen;
  const std::string& ProgramPath = rules.ProgramPath;
  const std::string& SelectedDevice = rules.SelectedDevice;
  const std::uint8_t& EepromByte1 = rules.EepromByte1;
  const std::uint8_t& EepromByte6 = rules.EepromByte6;

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
  // Runs a rule and shows its state, also when the rule fails halfway.
  template <typename Rule>
  void Apply(Rule rule);
  void ShowSelection();

  QLabel* statusPanel;
  // The fill of the rules' lists that the list boxes show.
  unsigned vendorsShown = 0;
  unsigned devicesShown = 0;
};

extern TSelectForm* SelectForm;

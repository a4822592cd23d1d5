// The main window: caption with the port numbers, the menus that start every
// command, and the status bar that shows the chosen device.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <cstdint>
#include <string>

#include "launch/LaunchHost.h"

class QAction;
class QFrame;
class QKeySequence;
class TPathLabel;
class QMenu;
class QStatusBar;

class TMainForm : public QMainWindow, private LaunchHost {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);

  std::int32_t LptNumber = 1;
  std::int32_t ComNumber = 1;

  QStatusBar* StatusBar1;
  QMenuBar* MainMenu1;
  QMenu* FileF1;
  QAction* Upload1;
  QAction* Download1;
  QAction* N1;
  QAction* ExitX1;
  QMenu* Device1;
  QAction* Change1;
  QMenu* OptionO1;
  QAction* Port1;
  // Only where the program maps COM names to devices itself; null elsewhere.
  QAction* Serialdevices1 = nullptr;
  QAction* Other1;
  QMenu* HelpH1;
  QAction* Content1;
  QAction* Index1;
  QAction* N2;
  QAction* Abount1;
  QMenu* ActionA1;
  QFrame* Bevel1;
  QAction* QELT1;

  void SetCaption(const std::string& caption);
  std::string Caption() const;
  void SetPanelText(int panel, const std::string& text);
  std::string PanelText(int panel) const;

  void X1Click();
  void FormCloseQuery(bool& CanClose);
  void Change1Click();
  void Port1Click();
  void Serialdevices1Click();
  void Download1Click();
  void Upload1Click();
  void QELT1Click();
  // The port dialog saved a choice: the caption shows it, the transfers use it.
  void UsePortNumbers(std::int32_t lptNumber, std::int32_t comNumber);
  // The work of Device > Change once the selection dialog confirmed a device.
  void SetupDevice(const std::string& device, const std::string& programPath, std::uint8_t byte1,
                   std::uint8_t byte6);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // LaunchHost: the commands of the launch feature run over this window.
  void SetStatus(int panel, const std::string& text) override;
  void StepAside() override;
  void ComeBack() override;

  QAction* addCommand(QMenu* menu, const char* caption, const QKeySequence& shortcut, void (TMainForm::*command)());
  TPathLabel* panels[2];
  bool placed = false;
  QRect asideFrom;
};

extern TMainForm* MainForm;

#include "app/Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QMenuBar>
#include <QStatusBar>

#include "app/Startup.h"
#include "catalogue/Select.h"
#include "controls/PathLabel.h"
#include "forms/Forms.h"
#include "forms/MessageBoxes.h"
#include "launch/LaunchCommands.h"
#include "platform/ComDevices.h"
#include "platform/Paths.h"
#include "platform/SerialDevices.h"
#include "platform/winapi.h"
#include "ports/PortSettings.h"
#include "ports/Selectlpt.h"
#include "ports/SerialDevicesForm.h"
#include "texts/Texts.h"
#include "transfer/Download.h"
#include "transfer/Upload.h"

TMainForm* MainForm = nullptr;

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  ApplyFormStyle(this);
  resize(600, 400);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setFixedHeight(21);
  for (int i = 0; i < 2; ++i) {
    panels[i] = new TPathLabel(StatusBar1);
    panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar1->addWidget(panels[i], i);
  }
  panels[0]->setFixedWidth(280);
  panels[1]->setMinimumWidth(50);
  setStatusBar(StatusBar1);

  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  FileF1 = MainMenu1->addMenu(QStringLiteral("&File"));
  Upload1 = addCommand(FileF1, "Upload", QKeySequence(Qt::CTRL | Qt::Key_U), &TMainForm::Upload1Click);
  Download1 = addCommand(FileF1, "Down&load", QKeySequence(Qt::CTRL | Qt::Key_D), &TMainForm::Download1Click);
  N1 = FileF1->addSeparator();
  ExitX1 = addCommand(FileF1, "E&xit", {}, &TMainForm::X1Click);
  Device1 = MainMenu1->addMenu(QStringLiteral("&Device"));
  Change1 = addCommand(Device1, "Change", QKeySequence(Qt::CTRL | Qt::Key_C), &TMainForm::Change1Click);
  OptionO1 = MainMenu1->addMenu(QStringLiteral("&Option"));
  Port1 = addCommand(OptionO1, "Port", QKeySequence(Qt::CTRL | Qt::Key_P), &TMainForm::Port1Click);
  Other1 = addCommand(OptionO1, "Other", {}, nullptr);
  // On Windows the COM names are the system's own: nothing to choose. After
  // the menu's own items, so that none of them moves.
  if (ComDevicesMappable())
    Serialdevices1 = addCommand(OptionO1, "Serial devices...", {}, &TMainForm::Serialdevices1Click);
  ActionA1 = MainMenu1->addMenu(QStringLiteral("&Action"));
  // The title carries Ctrl+A, which starts nothing.
  ActionA1->menuAction()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  QELT1 = addCommand(ActionA1, "QELT", QKeySequence(Qt::CTRL | Qt::Key_G), &TMainForm::QELT1Click);
  HelpH1 = MainMenu1->addMenu(QStringLiteral("&Help"));
  Content1 = addCommand(HelpH1, "Content", {}, nullptr);
  Index1 = addCommand(HelpH1, "Index", {}, nullptr);
  N2 = HelpH1->addSeparator();
  // "Abount" is the program's own caption, spelt so on purpose.
  Abount1 = addCommand(HelpH1, "Abount", {}, nullptr);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  setCentralWidget(Bevel1);

  LptNumber = PortNumber(ReadLptIndex());
  ComNumber = PortNumber(ReadComIndex());
  SetCaption(Texts::StartupCaption(LptNumber, ComNumber));
}

// Items without a command are the disabled ones; nothing enables them.
QAction* TMainForm::addCommand(QMenu* menu, const char* caption, const QKeySequence& shortcut,
                                void (TMainForm::*command)()) {
  QAction* action = menu->addAction(QString::fromLatin1(caption));
  action->setShortcut(shortcut);
  if (command)
    connect(action, &QAction::triggered, this, [this, command] { RunReportingErrors([&] { (this->*command)(); }); });
  else
    action->setEnabled(false);
  return action;
}

void TMainForm::SetCaption(const std::string& caption) { setWindowTitle(QString::fromLocal8Bit(caption)); }

std::string TMainForm::Caption() const { return windowTitle().toLocal8Bit().toStdString(); }

// A path too long for its panel keeps its file name; the tooltip has it whole.
void TMainForm::SetPanelText(int panel, const std::string& text) {
  panels[panel]->SetFullText(QString::fromLocal8Bit(text));
}

std::string TMainForm::PanelText(int panel) const { return panels[panel]->FullText().toLocal8Bit().toStdString(); }

void TMainForm::SetStatus(int panel, const std::string& text) { SetPanelText(panel, text); }

// Hiding the main window also takes away the program's taskbar button.
void TMainForm::StepAside() {
  asideFrom = geometry();
  hide();
}

void TMainForm::ComeBack() {
  setGeometry(asideFrom);
  show();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed) return;
  placed = true;
  // 600 x 400 is the outer size, frame included.
  const QSize frame = frameGeometry().size() - geometry().size();
  resize(QSize(600, 400) - frame);
  CenterOver(this, nullptr);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (!canClose) {
    event->ignore();
    return;
  }
  event->accept();
  QCoreApplication::quit();
}

void TMainForm::X1Click() { close(); }

void TMainForm::FormCloseQuery(bool& CanClose) {
  // Releasing leaves nothing behind, so a second close request releases nothing.
  if (SelectForm) SelectForm->CatalogueLines.reset();
  CanClose = true;
}

void TMainForm::Change1Click() {
  // Without the dialog (a window built on its own) there is nothing to choose from.
  if (!SelectForm || !SelectForm->Execute()) return;
  SetupDevice(SelectForm->SelectedDevice, SelectForm->ProgramPath, SelectForm->EepromByte1, SelectForm->EepromByte6);
}

void TMainForm::Port1Click() {
  if (!FileExists(PrnportPath())) {
    AppMessageBox(Texts::PrnportMissingForPort(PrnportPath()), Texts::ErrorCaption, MB_OK | MB_ICONINFORMATION);
    return;
  }
  TLPTForm* dialog = PortSelectionForm(this);
  // The dialog saves while it closes; the caption follows at that moment.
  const QMetaObject::Connection saved = connect(dialog, &TLPTForm::ChoiceSaved, this, &TMainForm::UsePortNumbers);
  dialog->exec();
  disconnect(saved);
}

void TMainForm::Serialdevices1Click() {
  TSerialDevicesForm form(this, OpenSerialDeviceSource());
  form.exec();
}

void TMainForm::UsePortNumbers(std::int32_t lptNumber, std::int32_t comNumber) {
  SetCaption(Texts::PortDialogCaption(lptNumber, comNumber));
  LptNumber = lptNumber;
  ComNumber = comNumber;
}

namespace {

// Each transfer dialog is new for its one showing, so nothing of an earlier
// one survives into the next.
template <class Form>
void ShowNewDialog(Form*& form, QWidget* owner, std::int32_t comNumber) {
  form = new Form(owner, comNumber);
  form->exec();
  delete form;
  form = nullptr;
}

}  // namespace

void TMainForm::Download1Click() { ShowNewDialog(DForm, this, ComNumber); }

void TMainForm::Upload1Click() { ShowNewDialog(UForm, this, ComNumber); }

void TMainForm::QELT1Click() { RunQeltTool(*this); }

void TMainForm::SetupDevice(const std::string& device, const std::string& programPath, std::uint8_t byte1,
                            std::uint8_t byte6) {
  ApplyDeviceChoice(*this, device, programPath, byte1, byte6);
}

#include "launch/LaunchCommands.h"

#include <QRect>
#include <cstdio>

#include "app/Main.h"
#include "forms/MessageBoxes.h"
#include "launch/ProjectFiles.h"
#include "launch/QeltTool.h"
#include "platform/Paths.h"
#include "platform/winapi.h"
#include "ports/PortSettings.h"

void ApplyDeviceChoice(TMainForm& form, const std::string& device, const std::string& programPath,
                       std::uint8_t byte1, std::uint8_t byte6) {
  if (device.empty() || programPath.empty()) return;
  const std::string programShort = ShortPath(programPath);
  const std::string eepromPath = EepromPathFor(programPath);
  if (!WriteEepromImage(eepromPath, byte1, byte6))
    AppMessageBox(EepromNotCreatedMessage, EepromNotCreatedCaption, MB_OK | MB_ICONSTOP);
  // Names whatever image is there, or nothing.
  const std::string dataShort = ShortPath(eepromPath);

  form.SetPanelText(0, device);
  form.SetPanelText(1, " " + programShort);

  const std::string project = ProjectPath();
  WriteProjectFile(project, dataShort, programShort);
  if (FileExists(PrnportPath()))
    WriteRecentProject(ShortPath(project));
  else
    AppMessageBox(PrnportMissingForChangeMessage, "Error.", MB_OK | MB_ICONSTOP);
}

void RunQeltTool(TMainForm& form) {
  UpdateQeltIni(ReadProjectImages());

  const std::string tool = QeltToolPath();
  if (!FileExists(tool)) {
    AppMessageBox(ToolMissingMessage(tool), "ERROR", MB_OK | MB_ICONINFORMATION);
    return;
  }
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process;
  // What we printed comes before what the tool prints on the same streams.
  std::fflush(nullptr);
  if (!CreateProcessA(tool.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                      nullptr, &startup, &process)) {
    AppMessageBox(ToolNotStartedMessage(tool, GetLastError()), "ERROR", MB_OK | MB_ICONSTOP);
    return;
  }

  // Hiding the main window also takes away the program's taskbar button.
  // While this thread waits, nothing of the program runs.
  const QRect where = form.geometry();
  form.hide();
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  form.setGeometry(where);
  form.show();
}

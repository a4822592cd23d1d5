#include "launch/LaunchCommands.h"

#include <cstdio>

#include "forms/MessageBoxes.h"
#include "launch/ProjectFiles.h"
#include "launch/QeltTool.h"
#include "platform/Paths.h"
#include "platform/winapi.h"
#include "ports/PortSettings.h"
#include "texts/Texts.h"

void ApplyDeviceChoice(LaunchHost& host, const std::string& device, const std::string& programPath,
                       std::uint8_t byte1, std::uint8_t byte6) {
  if (device.empty() || programPath.empty()) return;
  const std::string eepromPath = EepromPathFor(programPath);
  const std::string project = ProjectPath();
  // A path that its line can not hold is refused before anything is
  // written, so the tool never finds a set of files that disagree.
  for (const std::string& path : {programPath, eepromPath, project}) {
    if (const char* reason = UnwritablePathReason(path, true)) {
      AppMessageBox(Texts::PathNotWritable(path, reason), Texts::ErrorCaption, MB_OK | MB_ICONSTOP);
      return;
    }
  }
  const std::string programShort = ShortPath(programPath);
  if (!WriteEepromImage(eepromPath, byte1, byte6))
    AppMessageBox(Texts::EepromNotCreated, Texts::ErrorCaptionDots, MB_OK | MB_ICONSTOP);
  // Names whatever image is there, or nothing.
  const std::string dataShort = ShortPath(eepromPath);

  host.SetStatus(0, device);
  host.SetStatus(1, " " + programShort);

  WriteProjectFile(project, dataShort, programShort);
  if (FileExists(PrnportPath()))
    WriteRecentProject(ShortPath(project));
  else
    AppMessageBox(Texts::PrnportMissingForChange, Texts::ErrorCaptionDot, MB_OK | MB_ICONSTOP);
}

void RunQeltTool(LaunchHost& host) {
  UpdateQeltIni(ReadProjectImages());

  const std::string tool = QeltToolPath();
  if (!FileExists(tool)) {
    AppMessageBox(Texts::ToolMissing(tool), Texts::ErrorCaption, MB_OK | MB_ICONINFORMATION);
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
    const DWORD error = GetLastError();
    AppMessageBox(Texts::ToolNotStarted(tool, ToolStartFailureReason(error), error), Texts::ErrorCaption,
                  MB_OK | MB_ICONSTOP);
    return;
  }

  // While this thread waits, nothing of the program runs.
  host.StepAside();
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  host.ComeBack();
}

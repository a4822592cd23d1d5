#include "launch/QeltTool.h"

#include <stdexcept>

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/winapi.h"

const char* const QeltMarker = "0000 \\";

ProjectImages ReadProjectImages() {
  const std::string project = AppFile({"Talvorin.avr"});
  if (!FileExists(project)) return {};
  const TIniFile file(project);
  return {file.ReadString("Files", "Data", AppFile({"Programs", "eeprom.bin"})),
          file.ReadString("Files", "Program", AppFile({"Programs", "$dip20.bin"}))};
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

namespace {
const std::string& lineAt(const std::vector<std::string>& lines, size_t index) {
  if (index >= lines.size()) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return lines[index];
}

bool isMarker(const std::string& line) { return line.starts_with(QeltMarker); }
}  // namespace

std::vector<std::string> PutImagesAtHead(std::vector<std::string> lines, const ProjectImages& images) {
  if (isMarker(lineAt(lines, 0))) {
    lines.insert(lines.begin(), {images.data, images.program});
    return lines;
  }
  lines[0] = images.data;
  if (isMarker(lineAt(lines, 1)))
    lines.insert(lines.begin() + 1, images.program);
  else
    lines[1] = images.program;
  return lines;
}

std::string QeltIniPath() { return AppFile({"Qelt.ini"}); }

// "Qelt.ini" belongs to the tool: the new text replaces it by rename, so it
// is never left half written.
void UpdateQeltIni(const ProjectImages& images) {
  const std::string path = QeltIniPath();
  if (!FileExists(path)) return;
  std::string text;
  if (!ReadWholeFile(path, text)) throw std::runtime_error("Cannot open file " + path);
  const std::string updated = JoinLines(PutImagesAtHead(SplitLines(text), images));
  if (!ReplaceFileContents(path, updated)) throw std::runtime_error("Cannot create file " + path);
}

std::string QeltToolPath() { return AppFile({"Qelt.EXE"}); }

std::string ToolMissingMessage(const std::string& toolPath) {
  return toolPath + " is not find. Can not launch it.";
}

std::string ToolNotStartedMessage(const std::string& toolPath, std::uint32_t error) {
  std::string reason;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: reason = "The file was not found."; break;
    case ERROR_ACCESS_DENIED: reason = "Access is denied: the file is not an executable program."; break;
    case ERROR_BAD_EXE_FORMAT: reason = "The file is not a valid program."; break;
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      reason = "It is a Windows program, and this system cannot run it (wine is not on the PATH).";
      break;
    default: reason = "The system refused to start it."; break;
  }
  return toolPath + " can not be started.\n" + reason + " (Error: " + std::to_string(error) + ")";
}

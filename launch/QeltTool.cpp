#include "launch/QeltTool.h"

#include <stdexcept>

#include "launch/ProjectFiles.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/winapi.h"
#include "texts/Texts.h"

const char* const QeltMarker = "0000 \\";

ProjectImages ReadProjectImages() {
  const std::string project = ProjectPath();
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
  if (index >= lines.size()) throw std::out_of_range(Texts::ListIndexOutOfBounds(index));
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
  for (const std::string* image : {&images.data, &images.program})
    if (const char* reason = UnwritablePathReason(*image, false))
      throw std::runtime_error(Texts::PathNotWritable(*image, reason));
  std::string text;
  if (!ReadWholeFile(path, text)) throw std::runtime_error(Texts::CannotOpenFile(path));
  const std::string updated = JoinLines(PutImagesAtHead(SplitLines(text), images));
  if (!ReplaceFileContents(path, updated)) throw std::runtime_error(Texts::CannotCreateFile(path));
}

std::string QeltToolPath() { return AppFile({"Qelt.EXE"}); }

const char* ToolStartFailureReason(std::uint32_t error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return Texts::ToolNotFoundReason;
    case ERROR_ACCESS_DENIED: return Texts::ToolNotExecutableReason;
    case ERROR_BAD_EXE_FORMAT: return Texts::ToolNotAProgramReason;
    case ERROR_EXE_MACHINE_TYPE_MISMATCH: return Texts::ToolNeedsWineReason;
    default: return Texts::ToolRefusedReason;
  }
}

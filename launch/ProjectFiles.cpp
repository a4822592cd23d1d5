#include "launch/ProjectFiles.h"

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/winapi.h"

std::string EepromImage(std::uint8_t byte1, std::uint8_t byte6) {
  std::string image(EepromImageSize, '\xFF');
  image[1] = static_cast<char>(byte1);
  image[6] = static_cast<char>(byte6);
  return image;
}

std::string EepromPathFor(const std::string& programPath) {
  const auto delim = programPath.find_last_of(PathDelim);
  return (delim == std::string::npos ? std::string() : programPath.substr(0, delim + 1)) + "eeprom.bin";
}

// The new image goes to a temporary file renamed over the old one, so the
// tool never finds half an image.
bool WriteEepromImage(const std::string& path, std::uint8_t byte1, std::uint8_t byte6) {
  return ReplaceFileContents(path, EepromImage(byte1, byte6));
}

std::string ProjectPath() { return AppFile({"Talvorin.AVR"}); }

void WriteProjectFile(const std::string& path, const std::string& dataShortPath,
                      const std::string& programShortPath) {
  struct Entry {
    const char* section;
    const char* key;
    std::string value;
  };
  const Entry entries[] = {
      {"Project", "Title", ""},
      {"Project", "Id", ""},
      {"Project", "Left", "0"},
      {"Project", "Top", "0"},
      {"Project", "Fuses", "0"},
      {"Security", "Lockbits", "0"},
      // The tool is set up for this part whatever device was chosen.
      {"Device", "Device", "ATmega103/L"},
      {"Files", "Data", dataShortPath},
      {"Files", "Program", programShortPath},
      {"datamem-Window", "Left", "0"},
      {"datamem-Window", "Top", "0"},
      {"datamem-Window", "width", "600"},
      {"datamem-Window", "height", "323"},
      {"Progmem-Window", "Left", "28"},
      {"Progmem-Window", "Top", "28"},
      {"Progmem-Window", "width", "600"},
      {"Progmem-Window", "height", "323"},
  };
  // A file that cannot be deleted is refused by the first write below.
  if (FileExists(path)) DeleteFileA(path.c_str());
  TIniFile project(path);
  for (const auto& entry : entries) project.WriteString(entry.section, entry.key, entry.value);
}

#include "launch/ProjectFiles.h"

#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/winapi.h"
#include "texts/Texts.h"

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

const char* UnwritablePathReason(const std::string& path, bool shortForm) {
  if (path.find_first_of("\r\n") != std::string::npos) return Texts::PathHasLineBreakReason;
  if (!shortForm || !ShortPath(path).empty()) return nullptr;
  const auto delim = path.find_last_of(PathDelim);
  const std::string folder = delim == std::string::npos ? std::string() : ShortPath(path.substr(0, delim));
  const bool fits = !FileExists(path) && !folder.empty() && path.size() - delim + folder.size() < ShortPathBufferSize;
  return fits ? nullptr : Texts::PathTooLongReason;
}

std::string ProjectPath() { return AppFile({"Talvorin.AVR"}); }

std::string ProjectFileText(const std::string& dataShortPath, const std::string& programShortPath) {
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
  std::string text;
  const char* section = "";
  for (const auto& entry : entries) {
    if (std::string_view(entry.section) != section) text += std::string("[") + (section = entry.section) + "]\r\n";
    text += std::string(entry.key) + "=" + entry.value + "\r\n";
  }
  return text;
}

// The whole new file replaces the old one in one rename: a crash or a full
// disk leaves the old project, never a part of the new one.
void WriteProjectFile(const std::string& path, const std::string& dataShortPath,
                      const std::string& programShortPath) {
  const std::string existing = ResolvePath(path, NameMatch::Caseless);
  if (!ReplaceFileContents(existing, ProjectFileText(dataShortPath, programShortPath)))
    throw std::runtime_error("Unable to write to " + path);
  // An old file that differs in case takes the name as the program spells it.
  if (existing != path) {
    std::error_code ignored;
    std::filesystem::rename(existing, path, ignored);
  }
}

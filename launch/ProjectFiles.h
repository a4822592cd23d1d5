// The files Device > Change prepares for the programming tool: the EEPROM
// image beside the program image and the project file "Talvorin.AVR".
#pragma once

#include <cstdint>
#include <string>

constexpr std::size_t EepromImageSize = 4096;

// 4096 bytes of 0xFF with byte1 at offset 1 and byte6 at offset 6.
std::string EepromImage(std::uint8_t byte1, std::uint8_t byte6);

// "eeprom.bin" in the directory of the program image.
std::string EepromPathFor(const std::string& programPath);

// Replaces the file at path with the image. False when it cannot be written
// (a read-only file, a missing directory); the old file is then untouched.
bool WriteEepromImage(const std::string& path, std::uint8_t byte1, std::uint8_t byte6);

// Why the path can not be named in a line of the tool's files, or nullptr:
// a line break would end the line early. When shortForm is set its short
// form must be there too: the file's own, or for a file still to be written
// its folder's and its name.
const char* UnwritablePathReason(const std::string& path, bool shortForm);

// "Talvorin.AVR" beside the executable.
std::string ProjectPath();

// The project file naming the given data and program images: the sections
// and keys in the order the profile writer gives them one entry at a time.
std::string ProjectFileText(const std::string& dataShortPath, const std::string& programShortPath);

// Replaces the project file with that text. Throws std::runtime_error
// ("Unable to write to <path>") when it cannot be written; the old file is
// then left as it was.
void WriteProjectFile(const std::string& path, const std::string& dataShortPath,
                      const std::string& programShortPath);

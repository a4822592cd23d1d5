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

// "Talvorin.AVR" beside the executable.
std::string ProjectPath();

// Deletes the project file and writes it afresh, entry by entry, naming the
// given data and program images. Throws std::runtime_error
// ("Unable to write to <path>") at the first write that is refused; what was
// written before it stays.
void WriteProjectFile(const std::string& path, const std::string& dataShortPath,
                      const std::string& programShortPath);

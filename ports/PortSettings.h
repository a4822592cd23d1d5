// The port choice in "prnport.cfg" (LPT, and the recent project for the
// programming tool) and "Talvorin.ini" (COM, and the device each COM name
// leads to), both beside the executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string PrnportPath();
std::string TalvorinIniPath();

// The device that key "COMn" of section "COM devices" in "Talvorin.ini"
// names for port number n, or the empty string: where the program's COM ports
// lead, installed as the platform's ComDeviceResolver.
std::string ComDeviceFromSettings(int number);

// Rewrites section "COM devices" in one write of "Talvorin.ini": devices[i]
// is the device of COM(i+1), empty for none (no key). Keys of the section for
// other ports stay as they are. Throws as the writers below.
void WriteComDevices(const std::vector<std::string>& devices);

// Stored 0-based indexes; a missing file, key or non-integer value gives 0.
std::int32_t ReadLptIndex();
std::int32_t ReadComIndex();

// The 1-based port number of a stored index. 2147483647 wraps to
// -2147483648, the number a 32-bit Windows build shows, instead of
// overflowing.
std::int32_t PortNumber(std::int32_t index);

// Writers throw std::runtime_error("Unable to write to ...") when refused.
void WriteLptIndex(std::int32_t index);
void WriteComIndex(std::int32_t index);
// Replaces the whole section "Recent" of "prnport.cfg" by File0 = path.
void WriteRecentProject(const std::string& projectShortPath);

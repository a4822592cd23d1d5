// Device > Change after a device was chosen, and Action > QELT, over the
// window that runs them.
#pragma once

#include <cstdint>
#include <string>

#include "launch/LaunchHost.h"

// Writes the EEPROM image, the project file and the recent-project entry for
// the chosen device and shows it in the status bar. Nothing happens without
// a device and a program image, and nothing but a message when one of the
// paths would not go whole into its line (UnwritablePathReason). A refused
// profile write throws.
void ApplyDeviceChoice(LaunchHost& host, const std::string& device, const std::string& programPath,
                       std::uint8_t byte1, std::uint8_t byte6);

// Puts the project's image paths into "Qelt.ini", then runs "Qelt.EXE" while
// the host has stepped aside, and returns when it has ended. The errors of
// UpdateQeltIni end the command before the tool is started.
void RunQeltTool(LaunchHost& host);

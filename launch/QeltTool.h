// Handing the project to the programming tool "Qelt.EXE": the image paths
// from the project file, the head of the tool's "Qelt.ini", and the tool's
// path and why it would not start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProjectImages {
  std::string data;
  std::string program;
};

// Data and Program of section Files of the project file, with the default
// images for a missing key; both empty when there is no project file
// (ProjectPath(), the file Device > Change writes).
ProjectImages ReadProjectImages();

// A line that begins with this marks the start of the tool's own content.
extern const char* const QeltMarker;

// The lines, each ended by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// Puts the data path into line 0 and the program path into line 1, inserting
// them before a marker line and replacing other lines. Throws
// std::out_of_range ("List index out of bounds (n)") when a line the rule
// needs is missing.
std::vector<std::string> PutImagesAtHead(std::vector<std::string> lines, const ProjectImages& images);

std::string QeltIniPath();

// Rewrites the head of "Qelt.ini" when it exists. Throws std::runtime_error
// ("Cannot open file <path>" / "Cannot create file <path>", or
// Texts::PathNotWritable for an image path with a line break) or the error
// of PutImagesAtHead; the file is then left as it was.
void UpdateQeltIni(const ProjectImages& images);

std::string QeltToolPath();
// Why the tool could not be started, from the start's error number.
const char* ToolStartFailureReason(std::uint32_t error);

// Where the program's files are: everything is found through the directory of
// the running executable.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/Files.h"

// The executable's directory, without a trailing separator.
std::string ExeDir();

// The executable's directory joined with the given names by the native
// separator: AppFile({"Devices", "Devices.lst"}).
std::string AppFile(std::initializer_list<std::string_view> names);

// True when a file, not a directory, exists at the path: one of the
// program's own, its name matched without regard to case, or any other,
// its name found as told.
bool FileExists(const std::string& path);
bool FileExists(const std::string& path, NameMatch match);

// The short form of an existing path, or the empty string; one of
// ShortPathBufferSize characters or more is not taken either.
constexpr std::size_t ShortPathBufferSize = 1024;
std::string ShortPath(const std::string& path);

// The file name part of a path: what follows the last separator.
std::string ExtractFileName(const std::string& path);

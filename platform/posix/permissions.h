// Windows' rules for files over the mode bits: a file without any write
// permission bit is read-only even for root, just as the read-only attribute
// binds an administrator, and a file without any read bit cannot be read.
#pragma once

#include <sys/stat.h>

#include <string>

// Whether the path, whose status is st, may be read (want R_OK) or written
// (W_OK) by this process under those rules.
bool Permitted(const std::string& path, const struct stat& st, int want);

// No write permission bit at all: Windows' read-only attribute.
bool ReadOnly(const struct stat& st);

// Which symbolic links a write follows, and where they lead.
#pragma once

#include <string>

// A replacement goes through the link to the file it names, so that the link
// stays what the user made it. A dangling link names the file to create.
// False with errno set when a link on the way may not be followed (EACCES,
// see link_policy.cpp) or the links go round (ELOOP).
bool LinkTarget(const std::string& path, std::string& target);

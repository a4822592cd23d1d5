// Text files cut into lines, whichever system wrote them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The lines of a text: a line ends at CR LF, LF or CR; a last line without an
// end counts too, and an empty text has none. Every other byte, NUL included,
// belongs to its line.
std::vector<std::string> SplitLines(std::string_view text);

// The head rule of "Qelt.ini": the two image paths go into lines 0 and 1,
// before a marker line or in place of other lines; the rest stays.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "launch/QeltTool.h"
#include "platform/Text.h"

namespace {
bool IsMarker(const std::string& line) { return line.rfind(QeltMarker, 0) == 0; }

std::string PathText(FuzzedDataProvider& input) {
  std::string text = input.ConsumeRandomLengthString(64);
  for (auto& c : text)
    if (c == '\r' || c == '\n') c = '_';
  return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const ProjectImages images{PathText(input), PathText(input)};
  const std::vector<std::string> old = SplitLines(input.ConsumeRemainingBytesAsString());

  std::vector<std::string> lines;
  try {
    lines = PutImagesAtHead(old, images);
  } catch (const std::out_of_range&) {
    FUZZ_CHECK(old.empty() || (old.size() == 1 && !IsMarker(old[0])));
    return 0;
  }
  FUZZ_CHECK(lines.size() >= 2 && lines[0] == images.data && lines[1] == images.program);
  // What follows the two path lines is the old file from its first marker
  // line among the first two, or from line 2.
  const size_t from = IsMarker(old[0]) ? 0 : IsMarker(old[1]) ? 1 : 2;
  FUZZ_CHECK(lines.size() == old.size() - from + 2);
  FUZZ_CHECK(std::equal(old.begin() + static_cast<long>(from), old.end(), lines.begin() + 2));
  // Written and read again, the lines are the same, and a second run with
  // the same paths changes nothing.
  FUZZ_CHECK(SplitLines(JoinLines(lines)) == lines);
  FUZZ_CHECK(PutImagesAtHead(lines, images) == lines || IsMarker(images.data) || IsMarker(images.program));
  return 0;
}

// A profile file of any bytes, then a sequence of writes, erasures and reads
// through the profile functions. A written value reads back; every line
// outside what the write changes (other sections and keys, lines without
// "=", blank lines) stays, in its order. The file lives in memory: what is
// checked is the editing of its lines, not the disk.
#include <fuzzer/FuzzedDataProvider.h>

#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Text.h"
#include "platform/winapi.h"

namespace {

// The profile file, in memory.
std::string file;

bool readFile(const std::string&, std::string& data) {
  data = file;
  return true;
}

bool replaceFile(const std::string&, const std::string& data) {
  file = data;
  return true;
}

// The name the profile functions are given; no file of that name is made.
const char* const Name = "profile.ini";

const char* const Sections[] = {"port", "COM port", "a", "A", ""};
const char* const Keys[] = {"address", "k", "K", ";c"};

std::vector<std::string> Lines() { return SplitLines(file); }

// True when every line of old, but for `skipped` of them in a row from
// `from`, appears in lines in the same order.
bool Kept(const std::vector<std::string>& old, const std::vector<std::string>& lines, size_t from = 0,
          size_t skipped = 0) {
  size_t at = 0;
  for (size_t i = 0; i < old.size(); ++i) {
    if (i >= from && i < from + skipped) continue;
    while (at < lines.size() && lines[at] != old[i]) ++at;
    if (at == lines.size()) return false;
    ++at;
  }
  return true;
}

// A value the profile functions give back as written: printable, no blanks
// at either end (they are trimmed), not wrapped in quotes (they are taken off).
std::string Value(FuzzedDataProvider& input) {
  std::string value = input.ConsumeRandomLengthString(40);
  for (auto& c : value)
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) c = 'v';
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) value.front() = 'q';
  return value;
}

std::string Read(const char* section, const char* key) {
  char buffer[4096];
  const DWORD n = GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof buffer, Name);
  return std::string(buffer, n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetProfileFiles(readFile, replaceFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  file = input.ConsumeRandomLengthString(2000);

  for (int step = 0; step < 16 && input.remaining_bytes() > 0; ++step) {
    const char* section = input.PickValueInArray(Sections);
    const char* key = input.PickValueInArray(Keys);
    const std::vector<std::string> before = Lines();
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0: {  // write a value
        std::vector<std::string> values;
        for (const char* s : Sections)
          for (const char* k : Keys) values.push_back(Read(s, k));
        const std::string value = Value(input);
        FUZZ_CHECK(WritePrivateProfileStringA(section, key, value.c_str(), Name));
        FUZZ_CHECK(Read(section, key) == value);
        const std::vector<std::string> after = Lines();
        // At most the key's own line changed; nothing else moved or went.
        bool kept = Kept(before, after);
        for (size_t i = 0; !kept && i < before.size(); ++i) kept = Kept(before, after, i, 1);
        FUZZ_CHECK(kept);
        FUZZ_CHECK(after.size() <= before.size() + 2);
        // Every other value reads as before.
        size_t v = 0;
        for (const char* s : Sections)
          for (const char* k : Keys) {
            if (strcasecmp(s, section) != 0 || strcasecmp(k, key) != 0) FUZZ_CHECK(Read(s, k) == values[v]);
            ++v;
          }
        break;
      }
      case 1: {  // erase a section
        FUZZ_CHECK(WritePrivateProfileStringA(section, nullptr, nullptr, Name));
        const std::vector<std::string> after = Lines();
        FUZZ_CHECK(after.size() <= before.size());
        bool kept = false;
        for (size_t i = 0; !kept && i <= before.size(); ++i)
          kept = Kept(before, after, i, before.size() - after.size());
        FUZZ_CHECK(kept);
        break;
      }
      case 2: {  // delete a key
        FUZZ_CHECK(WritePrivateProfileStringA(section, key, nullptr, Name));
        FUZZ_CHECK(Lines().size() + 1 >= before.size());
        FUZZ_CHECK(Kept(Lines(), before));
        break;
      }
      default: {  // the lists of sections and keys
        char buffer[512];
        GetPrivateProfileStringA(nullptr, nullptr, "", buffer, input.ConsumeIntegralInRange<DWORD>(0, sizeof buffer),
                                 Name);
        GetPrivateProfileStringA(section, nullptr, "", buffer, input.ConsumeIntegralInRange<DWORD>(0, sizeof buffer),
                                 Name);
        break;
      }
    }
  }
  return 0;
}

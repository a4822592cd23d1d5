#include "platform/Convert.h"

bool TryStrToInt(const std::string& text, std::int32_t& value) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    magnitude = magnitude * base + digit;
    if (magnitude > (base == 16 ? 0xFFFFFFFFULL : 0x80000000ULL)) return false;
  }
  if (base == 10 && !negative && magnitude > 0x7FFFFFFFULL) return false;
  const auto bits = static_cast<std::uint32_t>(negative ? 0 - magnitude : magnitude);
  value = static_cast<std::int32_t>(bits);
  return true;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback) {
  std::int32_t value;
  return TryStrToInt(text, value) ? value : fallback;
}

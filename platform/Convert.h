// Integer text as the settings and catalogue files write it.
#pragma once

#include <cstdint>
#include <string>

// Optional leading blanks, an optional sign, then decimal digits or
// hexadecimal digits behind "$" or "0x"; nothing may follow the digits.
// Decimal values must fit 32 bits; up to eight hexadecimal digits are taken
// as a 32-bit pattern ("$FFFFFFFF" is -1).
bool TryStrToInt(const std::string& text, std::int32_t& value);

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback);

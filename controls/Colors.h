// Colours as the program stores them: 0x00BBGGRR for an RGB colour, or
// 0x80000000 plus n for Windows system colour n (resolved against the
// current look when used, see controls/SysColors.h).
#pragma once

#include <cstdint>

using TColor = std::uint32_t;

constexpr TColor clSystemColor = 0x80000000u;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor clBlue = 0x00FF0000u;

constexpr bool IsSystemColor(TColor color) { return (color & clSystemColor) != 0; }
constexpr int SystemColorIndex(TColor color) { return static_cast<int>(color & 0xFF); }

constexpr std::uint32_t RGBValue(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return r | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16);
}
constexpr std::uint8_t RedOf(std::uint32_t rgb) { return rgb & 0xFF; }
constexpr std::uint8_t GreenOf(std::uint32_t rgb) { return (rgb >> 8) & 0xFF; }
constexpr std::uint8_t BlueOf(std::uint32_t rgb) { return (rgb >> 16) & 0xFF; }

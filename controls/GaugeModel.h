// The activity gauge without its window: the shade table of the comet, the
// columns the comet occupies in the inner strip, and one step of the sweep.
#pragma once

#include <cstdint>
#include <vector>

using TPercent = std::uint8_t;  // 0 to 100
enum TGaugeDirection : std::uint8_t { gdLeft = 0, gdRight = 1 };

// Colours of the comet from its tail to its head: entry 0 is the back
// colour, the last entry the front colour (RGB values 0x00BBGGRR). Empty for
// size 0; a single entry is the front colour.
std::vector<std::uint32_t> BuildShadeTable(std::uint32_t size, std::uint32_t backRGB, std::uint32_t frontRGB);

struct TCometColumn {
  int x;               // column in the painted image
  std::uint32_t shade; // entry of the shade table
  friend bool operator==(const TCometColumn&, const TCometColumn&) = default;
};

// The columns of a comet of `size` columns in the strip [left, right) whose
// head is the len-th column from the starting side, len = percent of the
// strip's width. Nothing for size 0, an empty position or an unknown direction.
std::vector<TCometColumn> CometColumns(int left, int right, TPercent percent, std::uint32_t size,
                                       TGaugeDirection direction);

// One step of the sweep: grows percent by step while it stays below 100,
// otherwise turns the direction round and starts again at 0.
void AdvanceSweep(TPercent& percent, TGaugeDirection& direction, std::uint32_t step);

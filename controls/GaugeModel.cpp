#include "controls/GaugeModel.h"

#include <algorithm>
#include <cmath>

#include "controls/Colors.h"

std::vector<std::uint32_t> BuildShadeTable(std::uint32_t size, std::uint32_t backRGB, std::uint32_t frontRGB) {
  std::vector<std::uint32_t> table;
  if (size == 0) return table;
  if (size == 1) {
    table.push_back(frontRGB);
    return table;
  }
  table.reserve(size);
  const double last = size - 1.0;
  const auto channel = [last](double i, int back, int front) {
    return static_cast<std::uint8_t>(std::trunc(i * (front - back) / last + back));
  };
  for (std::uint32_t i = 0; i < size; ++i) {
    table.push_back(RGBValue(channel(i, RedOf(backRGB), RedOf(frontRGB)),
                             channel(i, GreenOf(backRGB), GreenOf(frontRGB)),
                             channel(i, BlueOf(backRGB), BlueOf(frontRGB))));
  }
  return table;
}

std::vector<TCometColumn> CometColumns(int left, int right, TPercent percent, std::uint32_t size,
                                       TGaugeDirection direction) {
  std::vector<TCometColumn> columns;
  const std::int64_t width = std::int64_t{right} - left;
  const std::int64_t len = std::min<std::int64_t>(percent * width / 100, width);
  const std::int64_t n = size;
  if (n == 0 || len <= 0 || (direction != gdLeft && direction != gdRight)) return columns;
  // The head sits at the len-th column from the starting side; at most n
  // columns, ending in the head, are drawn.
  const std::int64_t count = std::min(n, len);
  const std::int64_t firstShade = n - count;
  const std::int64_t offset = len - count + 1;
  columns.reserve(static_cast<std::size_t>(count));
  for (std::int64_t k = 0; k < count; ++k) {
    const std::int64_t x = direction == gdRight ? left + offset + k - 1 : right - offset - k;
    columns.push_back({static_cast<int>(x), static_cast<std::uint32_t>(firstShade + k)});
  }
  return columns;
}

void AdvanceSweep(TPercent& percent, TGaugeDirection& direction, std::uint32_t step) {
  // Compared without wrapping, so a step of more than 100 turns the comet
  // round instead of pushing percent past the end.
  if (std::uint64_t{percent} + step < 100) {
    percent = static_cast<TPercent>(percent + step);
  } else {
    direction = direction == gdLeft ? gdRight : gdLeft;
    percent = 0;
  }
}

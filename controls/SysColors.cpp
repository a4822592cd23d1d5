#include "controls/SysColors.h"

#include <QGuiApplication>
#include <QPalette>
#include <array>
#include <optional>

namespace {

struct PaletteEntry {
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

std::optional<PaletteEntry> PaletteEntryOf(int n) {
  constexpr auto A = QPalette::Active;
  static const std::array<std::optional<PaletteEntry>, 31> entries = {{
      PaletteEntry{A, QPalette::Button},           // 0 scroll bar
      PaletteEntry{A, QPalette::Dark},             // 1 desktop
      PaletteEntry{A, QPalette::Highlight},        // 2 active caption
      PaletteEntry{A, QPalette::Dark},             // 3 inactive caption
      PaletteEntry{A, QPalette::Window},           // 4 menu
      PaletteEntry{A, QPalette::Base},             // 5 window
      PaletteEntry{A, QPalette::Shadow},           // 6 window frame
      PaletteEntry{A, QPalette::WindowText},       // 7 menu text
      PaletteEntry{A, QPalette::Text},             // 8 window text
      PaletteEntry{A, QPalette::HighlightedText},  // 9 caption text
      PaletteEntry{A, QPalette::Button},           // 10 active border
      PaletteEntry{A, QPalette::Button},           // 11 inactive border
      PaletteEntry{A, QPalette::Dark},             // 12 application workspace
      PaletteEntry{A, QPalette::Highlight},        // 13 highlight
      PaletteEntry{A, QPalette::HighlightedText},  // 14 highlight text
      PaletteEntry{A, QPalette::Button},           // 15 button face
      PaletteEntry{A, QPalette::Dark},             // 16 button shadow
      PaletteEntry{QPalette::Disabled, QPalette::Text},  // 17 grey text
      PaletteEntry{A, QPalette::ButtonText},       // 18 button text
      PaletteEntry{A, QPalette::Midlight},         // 19 inactive caption text
      PaletteEntry{A, QPalette::Light},            // 20 button highlight
      PaletteEntry{A, QPalette::Shadow},           // 21 3-D dark shadow
      PaletteEntry{A, QPalette::Midlight},         // 22 3-D light
      PaletteEntry{A, QPalette::ToolTipText},      // 23 tooltip text
      PaletteEntry{A, QPalette::ToolTipBase},      // 24 tooltip background
      std::nullopt,                                // 25 not used by Windows
      PaletteEntry{A, QPalette::Link},             // 26 hot-tracked item
      PaletteEntry{A, QPalette::Highlight},        // 27 active caption gradient
      PaletteEntry{A, QPalette::Dark},             // 28 inactive caption gradient
      PaletteEntry{A, QPalette::Highlight},        // 29 menu highlight
      PaletteEntry{A, QPalette::Window},           // 30 menu bar
  }};
  if (n < 0 || n >= static_cast<int>(entries.size())) return std::nullopt;
  return entries[static_cast<std::size_t>(n)];
}

}  // namespace

std::uint32_t SysColorRGB(int n) {
  const auto entry = PaletteEntryOf(n);
  if (!entry) return 0;
  const QColor c = QGuiApplication::palette().color(entry->group, entry->role);
  return RGBValue(static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                  static_cast<std::uint8_t>(c.blue()));
}

std::uint32_t ColorToRGB(TColor color) {
  return IsSystemColor(color) ? SysColorRGB(SystemColorIndex(color)) : color & 0x00FFFFFF;
}

QColor ToQColor(TColor color) {
  const std::uint32_t rgb = ColorToRGB(color);
  return QColor(RedOf(rgb), GreenOf(rgb), BlueOf(rgb));
}

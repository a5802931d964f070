// app/TrackerCells.h: what each cell of the tracker grid shows, and when the grid's row menu
// applies. Plain rules over the tracker table; the grid widget only paints what they say.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "tracker/TrackerTable.h"

namespace app {

// Colours as 0xRRGGBB.
inline constexpr std::uint32_t kGridHeaderBackground = 0xCBE1FC;
inline constexpr std::uint32_t kGridSelectedBackground = 0xFBE694;
inline constexpr std::uint32_t kGridBackground = 0xFFFFFF;
inline constexpr std::uint32_t kGridText = 0x000000;
inline constexpr std::uint32_t kGridLinkedText = 0x008000;

inline constexpr int kGridColumns = 5;
inline constexpr std::array<int, kGridColumns> kGridColumnWidths = {34, 45, 116, 58, 48};
inline constexpr int kGridRowHeight = 18;

struct CellLook
{
    bool painted = true; // false: the cell is left as it was
    std::string text;
    std::uint32_t background = kGridHeaderBackground;
    std::uint32_t textColour = kGridText;
    bool bold = true;
};

// Grid row 0 is the header; grid row r >= 1 shows tracker row r - 1. table may be null (no
// table yet: drawn as an empty one).
CellLook trackerCell(const tracker::TrackerTable* table, int gridRow, int column, bool selected);

// The IMEI the row menu copies for the selected grid row, or nothing when no tracker row lies
// behind it (the command is then disabled). selectedGridRow is -1 when no row is selected.
std::optional<std::string> imeiOfGridRow(const tracker::TrackerTable* table, int selectedGridRow);

} // namespace app

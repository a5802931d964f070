// app/LinkIndicator.h: the 16 x 16 link activity picture: a frame in the link's colour with a
// five-pixel bar that moves one column per exchange on the link.
#pragma once

#include <array>
#include <cstdint>

#include <QImage>

namespace app {

inline constexpr int kIndicatorSize = 16;
inline constexpr std::uint32_t kIndicatorUp = 0x008000;   // link connected
inline constexpr std::uint32_t kIndicatorDown = 0xFF0000; // link down
inline constexpr std::uint32_t kIndicatorBackground = 0xFFFFFF;

// The bar's five columns for activity counter c (0..16): c .. c + 4, where a column above 16
// comes back as column - 16. Column 16 lies just outside the picture and is not seen.
std::array<int, 5> barColumns(int activity);

// White picture; a frame two pixels thick along the inside of the rectangle (0, 3)-(16, 15);
// the bar's columns from y = 5 to y = 11. Green when connected, red otherwise.
QImage linkIndicatorImage(bool connected, int activity);

} // namespace app

// app/LinkIndicator.cpp
#include "app/LinkIndicator.h"

#include <QPainter>

namespace app {

namespace {

constexpr int kFrameTop = 3;
constexpr int kFrameBottom = 15; // exclusive
constexpr int kFrameWidth = 2;
constexpr int kBarTop = 5;
constexpr int kBarBottom = 12; // exclusive
constexpr int kActivitySteps = 16;

} // namespace

std::array<int, 5> barColumns(int activity)
{
    std::array<int, 5> columns{};
    for (int i = 0; i < 5; ++i) {
        int p = activity + i;
        columns[static_cast<std::size_t>(i)] = p > kActivitySteps ? p - kActivitySteps : p;
    }
    return columns;
}

QImage linkIndicatorImage(bool connected, int activity)
{
    QImage image(kIndicatorSize, kIndicatorSize, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(kIndicatorBackground));
    const QColor colour = QColor::fromRgb(connected ? kIndicatorUp : kIndicatorDown);

    // Whole-pixel rectangles only: no pen geometry or smoothing decides which pixels are set.
    QPainter painter(&image);
    const int height = kFrameBottom - kFrameTop;
    painter.fillRect(0, kFrameTop, kIndicatorSize, kFrameWidth, colour);
    painter.fillRect(0, kFrameBottom - kFrameWidth, kIndicatorSize, kFrameWidth, colour);
    painter.fillRect(0, kFrameTop, kFrameWidth, height, colour);
    painter.fillRect(kIndicatorSize - kFrameWidth, kFrameTop, kFrameWidth, height, colour);
    for (int x : barColumns(activity))
        painter.fillRect(x, kBarTop, 1, kBarBottom - kBarTop, colour); // clipped at x = 16
    return image;
}

} // namespace app

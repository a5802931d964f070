// tests/app/LinkIndicatorTest.cpp: the link activity picture, pixel by pixel.
#include "app/LinkIndicator.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// '#' for the link colour, '.' for white, '?' for anything else.
std::vector<std::string> picture(const QImage& image, std::uint32_t colour)
{
    std::vector<std::string> rows;
    for (int y = 0; y < image.height(); ++y) {
        std::string row;
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t rgb = image.pixel(x, y) & 0xFFFFFF;
            row += rgb == colour ? '#' : rgb == app::kIndicatorBackground ? '.' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

// The frame, plus the bar in the columns given.
std::vector<std::string> expected(const std::set<int>& barColumns)
{
    std::vector<std::string> rows(16, std::string(16, '.'));
    for (int y : {3, 4, 13, 14})
        rows[static_cast<std::size_t>(y)] = std::string(16, '#');
    for (int y = 5; y < 13; ++y)
        for (int x : {0, 1, 14, 15})
            rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = '#';
    for (int y = 5; y < 12; ++y)
        for (int x : barColumns)
            rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = '#';
    return rows;
}

} // namespace

TEST(LinkIndicatorTest, BarColumnsWrapAboveSixteen)
{
    EXPECT_EQ((std::array<int, 5>{0, 1, 2, 3, 4}), app::barColumns(0));
    EXPECT_EQ((std::array<int, 5>{12, 13, 14, 15, 16}), app::barColumns(12));
    EXPECT_EQ((std::array<int, 5>{13, 14, 15, 16, 1}), app::barColumns(13));
    EXPECT_EQ((std::array<int, 5>{16, 1, 2, 3, 4}), app::barColumns(16));
}

TEST(LinkIndicatorTest, SplitBarAtThirteen)
{
    const std::vector<std::string> drawn = {
        "................", //
        "................", //
        "................", //
        "################", //
        "################", //
        "##...........###", //
        "##...........###", //
        "##...........###", //
        "##...........###", //
        "##...........###", //
        "##...........###", //
        "##...........###", //
        "##............##", //
        "################", //
        "################", //
        "................", //
    };
    EXPECT_EQ(drawn, picture(app::linkIndicatorImage(false, 13), app::kIndicatorDown));
}

TEST(LinkIndicatorTest, PixelsForEachCounterInBothColours)
{
    // Column 16 lies outside the picture: at 12 and 16 one bar column is not seen.
    const std::pair<int, std::set<int>> cases[] = {
        {0, {0, 1, 2, 3, 4}}, {12, {12, 13, 14, 15}}, {13, {13, 14, 15, 1}}, {16, {1, 2, 3, 4}}};
    for (const auto& [counter, columns] : cases) {
        SCOPED_TRACE(counter);
        QImage up = app::linkIndicatorImage(true, counter);
        ASSERT_EQ(QSize(16, 16), up.size());
        EXPECT_EQ(expected(columns), picture(up, app::kIndicatorUp));
        EXPECT_EQ(expected(columns),
                  picture(app::linkIndicatorImage(false, counter), app::kIndicatorDown));
    }
}

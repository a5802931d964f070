// tests/app/TrackerCellsTest.cpp: what the tracker grid's cells show and what its row menu copies.
#include "app/TrackerCells.h"

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"

using app::trackerCell;

namespace {

class TrackerCellsTest : public ::testing::Test
{
protected:
    TrackerCellsTest()
    {
        tracker::TrackerRow& linked = m_table.add(fakes::imeiFieldOf("356307042441013"));
        linked.linked = true;
        linked.version = 201;
        linked.dataCount = 70000;
        tracker::TrackerRow& gone = m_table.add(fakes::imeiFieldOf("356307042441021"));
        gone.version = 5;
    }

    tracker::TrackerTable m_table;
};

std::vector<std::string> texts(const tracker::TrackerTable* table, int row)
{
    std::vector<std::string> result;
    for (int k = 0; k < app::kGridColumns; ++k)
        result.push_back(trackerCell(table, row, k, false).text);
    return result;
}

} // namespace

TEST_F(TrackerCellsTest, HeaderIsBoldBlackOnLightBlue)
{
    EXPECT_EQ((std::vector<std::string>{"№", "Связь", "IMEI", "Версия", "Данные"}),
              texts(&m_table, 0));
    for (const tracker::TrackerTable* table :
         {&m_table, static_cast<tracker::TrackerTable*>(nullptr)}) {
        app::CellLook look = trackerCell(table, 0, 2, true);
        EXPECT_TRUE(look.painted);
        EXPECT_TRUE(look.bold);
        EXPECT_EQ(0xCBE1FCu, look.background);
        EXPECT_EQ(0x000000u, look.textColour);
    }
}

TEST_F(TrackerCellsTest, LinkedRowIsGreenWithOk)
{
    EXPECT_EQ((std::vector<std::string>{"1", "OK", "356307042441013", "201", "70000"}),
              texts(&m_table, 1));
    for (int k = 0; k < app::kGridColumns; ++k) {
        app::CellLook look = trackerCell(&m_table, 1, k, false);
        EXPECT_FALSE(look.bold);
        EXPECT_EQ(0x008000u, look.textColour);
        EXPECT_EQ(0xFFFFFFu, look.background);
    }
}

TEST_F(TrackerCellsTest, UnlinkedRowIsBlackWithBlankLinkColumn)
{
    EXPECT_EQ((std::vector<std::string>{"2", "", "356307042441021", "5", "0"}), texts(&m_table, 2));
    app::CellLook look = trackerCell(&m_table, 2, 2, false);
    EXPECT_EQ(0x000000u, look.textColour);
    EXPECT_FALSE(look.bold);
}

TEST_F(TrackerCellsTest, SelectedRowIsYellowInEveryColumn)
{
    for (int k = 0; k < app::kGridColumns; ++k) {
        EXPECT_EQ(0xFBE694u, trackerCell(&m_table, 2, k, true).background);
        EXPECT_EQ(0x008000u, trackerCell(&m_table, 1, k, true).textColour);
    }
}

TEST_F(TrackerCellsTest, EmptyTablePaintsOneBlankRowAndRowsBeyondTheTableAreLeftAlone)
{
    tracker::TrackerTable empty;
    for (const tracker::TrackerTable* table :
         {&empty, static_cast<tracker::TrackerTable*>(nullptr)}) {
        app::CellLook look = trackerCell(table, 1, 2, true);
        EXPECT_TRUE(look.painted);
        EXPECT_EQ("", look.text);
        EXPECT_EQ(0xFBE694u, look.background);
    }
    EXPECT_FALSE(trackerCell(&m_table, 3, 0, false).painted);
    EXPECT_FALSE(trackerCell(&m_table, 1, 5, false).painted);
}

TEST_F(TrackerCellsTest, RowMenuCopiesOnlyWhenATrackerLiesBehindTheSelectedRow)
{
    EXPECT_EQ("356307042441021", app::imeiOfGridRow(&m_table, 2));
    EXPECT_EQ("356307042441013", app::imeiOfGridRow(&m_table, 1));
    EXPECT_EQ(std::nullopt, app::imeiOfGridRow(&m_table, 3));
    EXPECT_EQ(std::nullopt, app::imeiOfGridRow(&m_table, 0));
    EXPECT_EQ(std::nullopt, app::imeiOfGridRow(&m_table, -1));
    tracker::TrackerTable empty;
    EXPECT_EQ(std::nullopt, app::imeiOfGridRow(&empty, 1));
    EXPECT_EQ(std::nullopt, app::imeiOfGridRow(nullptr, 1));
}

// tests/app/TrackerGridTest.cpp: the tracker grid widget: painting, growth and the row menu.
#include "app/TrackerGrid.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"

#include "app/TrackerCells.h"

namespace {

class TrackerGridTest : public ::testing::Test
{
protected:
    TrackerGridTest()
    {
        m_view.setTable(&m_table);
        m_grid.resize(330, 362);
        m_grid.show();
    }

    void addTracker(const std::string& imei, bool linked)
    {
        m_table.add(fakes::imeiFieldOf(imei)).linked = linked;
        m_grid.refresh();
    }

    QPoint cellCentre(int gridRow, int column)
    {
        return m_grid.visualRect(m_grid.model()->index(gridRow - 1, column)).center();
    }

    // Right click on a grid row: the row menu opens there. Returns whether its command was
    // enabled, after triggering it when it was.
    bool rightClickAndCopy(int gridRow)
    {
        const QPoint at = cellCentre(gridRow, 2);
        QTest::mouseClick(m_grid.viewport(), Qt::RightButton, {}, at);
        bool enabled = false;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(nullptr, menu);
            EXPECT_EQ("RowMenu", menu->objectName());
            QAction* copy = menu->findChild<QAction*>(QStringLiteral("CopyImei"));
            ASSERT_NE(nullptr, copy);
            EXPECT_EQ("Скопировать IMEI в буфер", copy->text());
            enabled = copy->isEnabled();
            if (enabled)
                copy->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_grid.viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(m_grid.viewport(), &event);
        return enabled;
    }

    QRgb backgroundOf(int gridRow, int column)
    {
        // Bottom right of the cell, clear of its text and of the grid lines.
        const QRect cell = m_grid.visualRect(m_grid.model()->index(gridRow - 1, column));
        const QImage image = m_grid.viewport()->grab().toImage();
        return image.pixel(cell.right() - 3, cell.bottom() - 3) & 0xFFFFFF;
    }

    app::StatusView m_view;
    tracker::TrackerTable m_table;
    app::TrackerGrid m_grid{m_view};
};

} // namespace

TEST_F(TrackerGridTest, EmptyTableShowsOneBlankRowAndDisablesTheCommand)
{
    EXPECT_EQ(1, m_grid.model()->rowCount());
    EXPECT_EQ(-1, m_grid.selectedGridRow());
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    EXPECT_FALSE(rightClickAndCopy(1));
    EXPECT_EQ("untouched", QGuiApplication::clipboard()->text());
}

TEST_F(TrackerGridTest, CopiesTheSelectedRowNotTheOneRightClicked)
{
    addTracker("356307042441013", true);
    addTracker("356307042441021", false);
    addTracker("356307042441039", true);
    ASSERT_EQ(3, m_grid.model()->rowCount());
    QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, {}, cellCentre(2, 0));
    ASSERT_EQ(2, m_grid.selectedGridRow());

    EXPECT_TRUE(rightClickAndCopy(3));
    EXPECT_EQ(2, m_grid.selectedGridRow());
    EXPECT_EQ("356307042441021", QGuiApplication::clipboard()->text());
}

TEST_F(TrackerGridTest, GrowsWithTheTableAndKeepsTheSelection)
{
    addTracker("356307042441013", true);
    EXPECT_EQ(1, m_grid.model()->rowCount());
    QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, {}, cellCentre(1, 0));
    addTracker("356307042441021", true);
    EXPECT_EQ(2, m_grid.model()->rowCount());
    EXPECT_EQ(1, m_grid.selectedGridRow());
    EXPECT_EQ("356307042441021", m_grid.model()->index(1, 2).data().toString().toStdString());
}

TEST_F(TrackerGridTest, PaintsHeaderSelectedAndOtherRows)
{
    addTracker("356307042441013", true);
    addTracker("356307042441021", false);
    EXPECT_EQ("IMEI", m_grid.model()->headerData(2, Qt::Horizontal).toString());
    EXPECT_EQ(34, m_grid.columnWidth(0));
    EXPECT_EQ(116, m_grid.columnWidth(2));
    EXPECT_EQ(QHeaderView::Interactive, m_grid.horizontalHeader()->sectionResizeMode(2));
    // The columns fill the grid: no strip of nothing right of the last one.
    EXPECT_EQ(m_grid.viewport()->width(), m_grid.horizontalHeader()->length());

    // Nothing is highlighted until a line is clicked.
    EXPECT_EQ(app::kGridBackground, backgroundOf(1, 2));
    QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, {}, cellCentre(1, 0));
    EXPECT_EQ(app::kGridSelectedBackground, backgroundOf(1, 2));
    EXPECT_EQ(app::kGridBackground, backgroundOf(2, 2));
    const QImage header = m_grid.horizontalHeader()->grab().toImage();
    EXPECT_EQ(app::kGridHeaderBackground, header.pixel(60, 12) & 0xFFFFFF);

    // The linked row's text is drawn in green somewhere in its IMEI cell.
    const QRect cell = m_grid.visualRect(m_grid.model()->index(0, 2));
    const QImage image = m_grid.viewport()->grab().toImage();
    bool green = false;
    for (int y = cell.top(); y <= cell.bottom() && !green; ++y)
        for (int x = cell.left(); x <= cell.right() && !green; ++x)
            green = (image.pixel(x, y) & 0xFFFFFF) == app::kGridLinkedText;
    EXPECT_TRUE(green);
}

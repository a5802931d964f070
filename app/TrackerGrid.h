// app/TrackerGrid.h: the tracker grid with its row menu. Window's thread only.
#pragma once

#include <QTableView>

#include "app/StatusView.h"
#include "app/TrackerGridModel.h"

class QAction;
class QMenu;

namespace app {

class TrackerGrid final : public QTableView
{
public:
    // view must outlive the grid. No line is selected, or highlighted, until the user clicks
    // one.
    explicit TrackerGrid(const StatusView& view, QWidget* parent = nullptr);

    // Row count from the tracker table, then a repaint. After each dispatch that changed rows.
    void refresh();

    // The selected grid row (1 is the first tracker), -1 when none.
    int selectedGridRow() const;

    // The row menu's command: copies the selected row's IMEI when a tracker row lies behind it.
    void copyImei();

protected:
    // The right button opens the row menu and leaves the selection alone.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setUpHeader();

    TrackerGridModel m_model;
    QMenu* m_rowMenu;
    QAction* m_copyImei;
};

} // namespace app

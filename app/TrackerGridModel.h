// app/TrackerGridModel.h: the tracker table as the grid's item model. Window's thread only.
#pragma once

#include <QAbstractTableModel>

#include "app/StatusView.h"

namespace app {

// Model row m is grid row m + 1; the grid's header row is the model's horizontal header.
class TrackerGridModel final : public QAbstractTableModel
{
public:
    // view must outlive the model; its tracker table may be set later.
    explicit TrackerGridModel(const StatusView& view, QObject* parent = nullptr);

    // Takes the row count from the view (the header and one row per tracker, at least 2) and
    // marks every cell changed.
    void refresh();

    const tracker::TrackerTable* table() const { return m_view.table(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const StatusView& m_view;
    int m_rows = 1; // data rows below the header
};

} // namespace app

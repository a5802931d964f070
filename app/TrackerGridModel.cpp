// app/TrackerGridModel.cpp
#include "app/TrackerGridModel.h"

#include <QColor>
#include <QFont>

#include "app/TrackerCells.h"

namespace app {

TrackerGridModel::TrackerGridModel(const StatusView& view, QObject* parent)
    : QAbstractTableModel(parent), m_view(view)
{
    m_rows = static_cast<int>(m_view.gridRowCount()) - 1;
}

void TrackerGridModel::refresh()
{
    // Tracker rows are never removed, so the grid only grows; inserting keeps the selection.
    const int rows = static_cast<int>(m_view.gridRowCount()) - 1;
    if (rows > m_rows) {
        beginInsertRows({}, m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
    Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, kGridColumns - 1));
}

int TrackerGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int TrackerGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kGridColumns;
}

QVariant TrackerGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    CellLook look = trackerCell(table(), index.row() + 1, index.column(), false);
    if (!look.painted)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(look.text);
    case Qt::ForegroundRole:
        return QColor::fromRgb(look.textColour);
    default:
        return {};
    }
}

QVariant TrackerGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromStdString(trackerCell(table(), 0, section, false).text);
}

} // namespace app

// app/TrackerCells.cpp
#include "app/TrackerCells.h"

namespace app {

namespace {

const std::array<const char*, kGridColumns> kHeaders = {"№", "Связь", "IMEI", "Версия", "Данные"};

std::string rowText(const tracker::TrackerRow& row, int gridRow, int column)
{
    switch (column) {
    case 0:
        return std::to_string(gridRow);
    case 1:
        return row.linked ? "OK" : "";
    case 2:
        return row.imeiText();
    case 3:
        return std::to_string(row.version);
    case 4:
        return std::to_string(row.dataCount);
    default:
        return {};
    }
}

} // namespace

CellLook trackerCell(const tracker::TrackerTable* table, int gridRow, int column, bool selected)
{
    CellLook look;
    if (column < 0 || column >= kGridColumns || gridRow < 0) {
        look.painted = false;
        return look;
    }
    if (gridRow == 0) {
        look.text = kHeaders[static_cast<std::size_t>(column)];
        return look;
    }
    const std::size_t index = static_cast<std::size_t>(gridRow - 1);
    const bool exists = table && index < table->size();
    look.bold = false;
    look.textColour = exists && table->rows()[index].linked ? kGridLinkedText : kGridText;
    look.background = selected ? kGridSelectedBackground : kGridBackground;
    if (!table || table->size() == 0)
        return look; // painted blank
    if (!exists) {
        look.painted = false;
        return look;
    }
    look.text = rowText(table->rows()[index], gridRow, column);
    return look;
}

std::optional<std::string> imeiOfGridRow(const tracker::TrackerTable* table, int selectedGridRow)
{
    if (!table || selectedGridRow < 1)
        return std::nullopt;
    const std::size_t index = static_cast<std::size_t>(selectedGridRow - 1);
    if (index >= table->size())
        return std::nullopt;
    return table->rows()[index].imeiText();
}

} // namespace app

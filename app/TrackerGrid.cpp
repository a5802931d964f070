// app/TrackerGrid.cpp
#include "app/TrackerGrid.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>

#include <exception>

#include "app/TrackerCells.h"

namespace app {

namespace {

constexpr int kTextInset = 2; // text offset from the cell's left and top edges

// Accepts a mouse event that involves the right button, so the view never sees it: the right
// button opens the row menu and must not move the selection. True when accepted.
bool keptFromView(QMouseEvent* event, Qt::MouseButtons buttons)
{
    if (!buttons.testFlag(Qt::RightButton))
        return false;
    event->accept();
    return true;
}

// Paints every cell by the tracker cell rules: background, font weight, colour and text.
class TrackerCellDelegate final : public QStyledItemDelegate
{
public:
    TrackerCellDelegate(const TrackerGridModel& model, QObject* parent)
        : QStyledItemDelegate(parent), m_model(model)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        CellLook look;
        try {
            const bool selected = option.state.testFlag(QStyle::State_Selected);
            look = trackerCell(m_model.table(), index.row() + 1, index.column(), selected);
        } catch (const std::exception&) {
            return; // the cell stays as it was
        }
        if (!look.painted)
            return;
        QFont font = option.font;
        font.setBold(look.bold);
        painter->save();
        painter->setClipRect(option.rect);
        painter->fillRect(option.rect, QColor::fromRgb(look.background));
        painter->setFont(font);
        painter->setPen(QColor::fromRgb(look.textColour));
        painter->drawText(option.rect.adjusted(kTextInset, kTextInset, 0, 0),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          QString::fromStdString(look.text));
        painter->restore();
    }

private:
    const TrackerGridModel& m_model;
};

QString headerStyle()
{
    // The header row follows the header cell rule: light blue, bold, black. Past the last
    // column the strip shows the grid's white.
    return QStringLiteral("QHeaderView { background-color: white; }"
                          " QHeaderView::section { background-color: %1; color: %2;"
                          " font-weight: bold; border: none; border-right: 1px solid #A0A0A0;"
                          " border-bottom: 1px solid #A0A0A0; padding: 0px 0px 0px %3px; }")
        .arg(QColor::fromRgb(kGridHeaderBackground).name(), QColor::fromRgb(kGridText).name())
        .arg(kTextInset);
}

} // namespace

TrackerGrid::TrackerGrid(const StatusView& view, QWidget* parent)
    : QTableView(parent), m_model(view, this), m_rowMenu(new QMenu(this)),
      m_copyImei(m_rowMenu->addAction(QStringLiteral("Скопировать IMEI в буфер")))
{
    setObjectName(QStringLiteral("TrackerGrid"));
    setModel(&m_model);
    setItemDelegate(new TrackerCellDelegate(m_model, this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    setUpHeader();
    m_rowMenu->setObjectName(QStringLiteral("RowMenu"));
    m_copyImei->setObjectName(QStringLiteral("CopyImei"));
    connect(m_copyImei, &QAction::triggered, this, [this] { copyImei(); });
}

void TrackerGrid::setUpHeader()
{
    QHeaderView* header = horizontalHeader();
    header->setStyleSheet(headerStyle());
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignTop);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // The last column takes what the others leave, so the columns always fill the grid.
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(8);
    header->setFixedHeight(kGridRowHeight);
    for (int k = 0; k < kGridColumns; ++k)
        setColumnWidth(k, kGridColumnWidths[static_cast<std::size_t>(k)]);
}

void TrackerGrid::refresh()
{
    m_model.refresh();
    viewport()->update();
}

int TrackerGrid::selectedGridRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row() + 1;
}

void TrackerGrid::copyImei()
{
    // Checked again: the table may have changed while the menu was open.
    if (auto imei = imeiOfGridRow(m_model.table(), selectedGridRow()))
        QGuiApplication::clipboard()->setText(QString::fromStdString(*imei));
}

void TrackerGrid::mousePressEvent(QMouseEvent* event)
{
    if (!keptFromView(event, event->button()))
        QTableView::mousePressEvent(event);
}

void TrackerGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (!keptFromView(event, event->buttons()))
        QTableView::mouseMoveEvent(event);
}

void TrackerGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (!keptFromView(event, event->button()))
        QTableView::mouseReleaseEvent(event);
}

void TrackerGrid::contextMenuEvent(QContextMenuEvent* event)
{
    m_copyImei->setEnabled(imeiOfGridRow(m_model.table(), selectedGridRow()).has_value());
    m_rowMenu->exec(event->globalPos());
}

} // namespace app

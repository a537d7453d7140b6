#include "app/sendgrid/SendGridView.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/sendgrid/SendGridDraw.h"
#include "app/sendgrid/SendGridPanel.h"

TSendGridHeader::TSendGridHeader(TSendGridPanel* panel, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), Panel(panel)
{
    setSectionResizeMode(QHeaderView::Interactive);
    setStretchLastSection(false);
    setSectionsClickable(false);
    setHighlightSections(false);
    setMinimumSectionSize(8);
    // Beyond the last column the header shows the grid's own white.
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::Button, Qt::white);
    colours.setColor(QPalette::Base, Qt::white);
    setPalette(colours);
}

QSize TSendGridHeader::sizeHint() const
{
    return {QHeaderView::sizeHint().width(), TSendGridPanel::kRowHeight};
}

void TSendGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->save();
    painter->setFont(font());
    const QRect cell(rect.left(), rect.top(), rect.width() - 1, rect.height() - 1);
    Panel->sgSendDrawCell(painter, cell, logicalIndex, 0, false);
    painter->restore();
    painter->save();
    painter->setPen(SendGridLineColor(this));
    painter->drawLine(rect.right(), rect.top(), rect.right(), rect.bottom());
    painter->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    painter->restore();
}

void TSendGridHeader::mousePressEvent(QMouseEvent* event)
{
    QHeaderView::mousePressEvent(event); // a press between two titles starts a resize
    const int column = logicalIndexAt(event->position().toPoint());
    Panel->sgSendMouseDown(column, column < 0 ? -1 : 0);
}

void TSendGridHeader::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click; no fitting of the column to its texts.
    QHeaderView::mousePressEvent(event);
    const int column = logicalIndexAt(event->position().toPoint());
    Panel->sgSendDblClick();
    Panel->sgSendMouseDown(column, column < 0 ? -1 : 0);
}

TSendGrid::TSendGrid(TSendGridPanel* panel, QWidget* parent) : QTableWidget(parent), Panel(panel)
{
    setObjectName(QStringLiteral("sgSend"));
    setHorizontalHeader(new TSendGridHeader(panel, this));
    setColumnCount(TSendGridPanel::kColumnCount);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(TSendGridPanel::kRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setItemDelegate(new TSendGridDelegate(panel, this));
}

QPoint TSendGrid::CellAt(const QPoint& position) const
{
    const int column = columnAt(position.x());
    const int row = rowAt(position.y());
    if (column < 0 || row < 0)
        return {-1, -1};
    return {column, GridRowOfIndex(row)};
}

void TSendGrid::mousePressEvent(QMouseEvent* event)
{
    const QPoint cell = CellAt(event->position().toPoint());
    // A press outside the cells leaves the selection alone.
    if (cell.y() > 0)
        QTableWidget::mousePressEvent(event);
    Panel->sgSendMouseDown(cell.x(), cell.y());
}

void TSendGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The window system turns the second press of a double click into this
    // event: it is the double click and then that second press.
    const QPoint cell = CellAt(event->position().toPoint());
    if (cell.y() > 0)
        QTableWidget::mousePressEvent(event);
    Panel->sgSendDblClick();
    Panel->sgSendMouseDown(cell.x(), cell.y());
}

#pragma once
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableWidget>

class TSendGridPanel;

// The grid's header: the fixed top row, drawn like the cells (silver, centred
// titles); dragging between two titles resizes a column.
class TSendGridHeader : public QHeaderView {
public:
    explicit TSendGridHeader(TSendGridPanel* panel, QWidget* parent);
    // As high as a grid row.
    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TSendGridPanel* Panel;
};

// sgSend: the owner-drawn string grid. Table row r is grid row r + 1 (grid
// row 0 is the header). Presses of any mouse button and double clicks are
// handed to the panel; a double click counts as a second press as well.
class TSendGrid : public QTableWidget {
public:
    explicit TSendGrid(TSendGridPanel* panel, QWidget* parent);

    // The grid cell under a point of the viewport: (column, grid row), or
    // (-1, -1) outside every data cell.
    QPoint CellAt(const QPoint& position) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TSendGridPanel* Panel;
};

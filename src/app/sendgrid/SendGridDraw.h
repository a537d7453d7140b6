#pragma once
#include <QColor>
#include <QStyledItemDelegate>

class QWidget;
class TSendGridPanel;

// The colour of the grid lines in the widget's style.
QColor SendGridLineColor(const QWidget* widget);

// Draws every data cell through the panel; the view itself draws only the grid lines.
class TSendGridDelegate : public QStyledItemDelegate {
public:
    TSendGridDelegate(TSendGridPanel* panel, QObject* parent) : QStyledItemDelegate(parent), Panel(panel) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    TSendGridPanel* Panel;
};

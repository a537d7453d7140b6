#include "views/TraceView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <algorithm>

#include "views/TarvenixTrace.h"

void TTraceLineModel::SetTrace(TTarvenixTraceList* trace)
{
    beginResetModel();
    Trace = trace;
    Shown = 0;
    endResetModel();
}

void TTraceLineModel::AppendUpTo(int total)
{
    if (!Trace || total <= Shown)
        return;
    beginInsertRows(QModelIndex(), Shown, total - 1);
    Shown = total;
    endInsertRows();
}

void TTraceLineModel::ClearLines()
{
    beginResetModel();
    Shown = 0;
    endResetModel();
}

QString TTraceLineModel::LineText(int row) const
{
    if (!Trace || row < 0 || row >= Shown)
        return {};
    const TTarvenixTraceItem* item = Trace->Item(row);
    return item ? QString::fromStdString(item->FormatLine()) : QString();
}

int TTraceLineModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Shown;
}

QVariant TTraceLineModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return LineText(index.row());
}

TTraceView::TTraceView(QWidget* parent) : QListView(parent)
{
    setModel(&Model);
    setUniformItemSizes(true); // one fixed line height: no per-row measuring
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setLayoutMode(QListView::SinglePass);
}

QString TTraceView::SelectedText() const
{
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (int row : rows)
        lines.append(Model.LineText(row));
    return lines.join('\n');
}

void TTraceView::CopySelection() const
{
    QApplication::clipboard()->setText(SelectedText());
}

void TTraceView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

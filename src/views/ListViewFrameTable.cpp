#include "views/ListViewFrameTable.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstring>

#include <QFont>
#include <QHeaderView>
#include <QThread>

#include "core/CanText.h"
#include "views/TableCellDelegate.h"
#include "views/TarvenixTable.h"

namespace {

// Latin-1 text of a short string built by the frame-text module.
QString Latin1(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

struct TColumnInfo {
    const char* Title;
    int Width;
};

constexpr TColumnInfo kColumns[TListViewFrameTable::kColumnCount] = {
    {"ID", 72}, {"DLC", 36}, {"Data", 240}, {"Count", 60}, {"Period", 60},
};

} // namespace

TFrameRowView TFrameRowView::From(const TTarvenixTableItem& row)
{
    TFrameRowView view;
    view.Id = row.Id;
    view.Length = row.Length;
    std::memcpy(view.Data, row.Data, sizeof(view.Data));
    view.Count = row.Count;
    view.Period = row.Period;
    view.Request = row.Request;
    view.Standard = row.Standard;
    return view;
}

uint32_t TFrameRowView::ViewKey() const
{
    return Id | (Standard ? 0u : 0x80000000u) | (Request ? 0x40000000u : 0u);
}

QString TFrameRowView::IdText() const
{
    return Latin1(FormatCanId(Id, Standard));
}

QString TFrameRowView::LengthText() const
{
    return QString::number(Length);
}

QString TFrameRowView::DataText() const
{
    if (Request)
        return QStringLiteral("Request");
    std::string text;
    AppendDataBytes(text, Data, CanDataBytes(Length), ' ');
    return Latin1(text);
}

QString TFrameRowView::CountText() const
{
    return QString::number(Count);
}

QString TFrameRowView::PeriodText() const
{
    return QString::number(Period);
}

QVariant TListItemFrameTable::data(int column, int role) const
{
    if (role != Qt::DisplayRole)
        return QTreeWidgetItem::data(column, role);
    switch (column) {
    case TListViewFrameTable::kColId:
        return IdText;
    case TListViewFrameTable::kColDlc:
        return Row.LengthText();
    case TListViewFrameTable::kColData:
        return Row.DataText();
    case TListViewFrameTable::kColCount:
        return Row.CountText();
    case TListViewFrameTable::kColPeriod:
        return Row.PeriodText();
    default:
        return QTreeWidgetItem::data(column, role);
    }
}

TListViewFrameTable::TListViewFrameTable(QWidget* parent)
    : QTreeWidget(parent), Queue(TQueue::Create(this, [this](std::vector<TPending>& batch) { ApplyBatch(batch); })),
      ChangedCells(viewport())
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new TTableCellDelegate(this));

    QFont font(QStringLiteral("Lucida Console"));
    font.setPixelSize(13);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    setFont(font);

    setColumnCount(kColumnCount);
    QStringList titles;
    for (const TColumnInfo& column : kColumns)
        titles << QString::fromLatin1(column.Title);
    setHeaderLabels(titles);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    for (int c = 0; c < kColumnCount; ++c)
        setColumnWidth(c, kColumns[c].Width);
}

TListViewFrameTable::~TListViewFrameTable()
{
    Detach();
    Queue->Close();
}

bool TListViewFrameTable::OnWindowThread() const
{
    return QThread::currentThread() == thread();
}

void TListViewFrameTable::Detach()
{
    if (AttachedTable) {
        // Each setter returns only when no call of the old hook is running.
        AttachedTable->SetOnRowChanged(nullptr);
        AttachedTable->SetOnCleared(nullptr);
        AttachedTable->SetOnRebuild(nullptr);
        AttachedTable = nullptr;
    }
    Queue->NewGeneration();
}

void TListViewFrameTable::SetTable(TTarvenixTable* table)
{
    Detach();
    if (table)
        Attach(table, Queue->Generation());
}

void TListViewFrameTable::Attach(TTarvenixTable* table, uint64_t generation)
{
    AttachedTable = table;
    table->SetOnRowChanged([this, generation](const TTarvenixTableItem& row, int32_t index, bool isNew) {
        if (OnWindowThread()) {
            RowChanged(row, index, isNew);
            return;
        }
        TPending pending;
        pending.Kind = TKind::Row;
        pending.IsNew = isNew;
        pending.Index = index;
        pending.Row = TFrameRowView::From(row);
        // A new line moves the lines after it: it is a barrier. Updates of
        // existing lines between two barriers merge per line and row.
        const uint64_t line = (static_cast<uint64_t>(static_cast<uint32_t>(index)) << 32) | pending.Row.ViewKey();
        Queue->Push(generation, isNew ? TQueue::TRule::Append : TQueue::TRule::Merge, std::move(pending), line);
    });
    table->SetOnCleared([this, generation]() {
        if (OnWindowThread()) {
            Cleared();
            return;
        }
        TPending pending;
        pending.Kind = TKind::Cleared;
        Queue->Push(generation, TQueue::TRule::ReplaceAll, std::move(pending));
    });
    table->SetOnRebuild([this, generation, table]() {
        if (OnWindowThread()) {
            RowsRebuild();
            return;
        }
        // The rows are copied here, on the thread that owns them while the channel runs.
        TPending pending;
        pending.Kind = TKind::Rebuild;
        pending.Rows.reserve(static_cast<size_t>(table->Count()));
        for (int32_t i = 0; i < table->Count(); ++i)
            pending.Rows.push_back(TFrameRowView::From(*table->Item(i)));
        Queue->Push(generation, TQueue::TRule::ReplaceAll, std::move(pending));
    });
}

void TListViewFrameTable::ProcessPending()
{
    Queue->Drain();
}

void TListViewFrameTable::ApplyBatch(std::vector<TPending>& batch)
{
    const auto start = std::chrono::steady_clock::now();
    Shown = {};
    for (const TPending& p : batch) {
        switch (p.Kind) {
        case TKind::Cleared:
            ClearLines();
            break;
        case TKind::Rebuild:
            ApplyRows(p.Rows);
            break;
        case TKind::Row:
            ApplyRow(p.Row, p.Index, p.IsNew);
            break;
        }
    }
    ChangedCells.Schedule();
    BusyNs += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

void TListViewFrameTable::ApplyRow(const TFrameRowView& row, int32_t index, bool isNew)
{
    if (isNew) {
        // A position past the end (a view out of step) appends.
        const int count = topLevelItemCount();
        ChangedCells.Flush();
        Shown = {true, 0, -1, 0, 0};
        insertTopLevelItem(index < 0 || index > count ? count : index, new TListItemFrameTable(row));
        ++AppliedCount;
        return;
    }
    TListItemFrameTable* line = Line(index);
    if (!line || line->ViewKey != row.ViewKey())
        return;
    // The line takes the new values; its texts follow from them when painted.
    // The model is not told (its per-cell change signal costs more than the
    // update): the visible cells whose values differ are collected instead and
    // repainted once per batch.
    const TFrameRowView shown = line->Row;
    line->Row = row;
    ++AppliedCount;
    const bool bytes = row.Length != shown.Length || row.Request != shown.Request ||
                       std::memcmp(row.Data, shown.Data, sizeof(row.Data)) != 0;
    const bool changed[kColumnCount] = {false, row.Length != shown.Length, bytes, row.Count != shown.Count,
                                        row.Period != shown.Period};
    if (std::none_of(std::begin(changed), std::end(changed), [](bool c) { return c; }))
        return;
    QRect lineRect;
    if (!ShownLineRect(index, lineRect))
        return;
    for (int column = kColDlc; column < kColumnCount; ++column)
        if (changed[column])
            ChangedCells.Add(QRect(header()->sectionViewportPosition(column), lineRect.top(),
                                   header()->sectionSize(column), lineRect.height()));
}

bool TListViewFrameTable::ShownLineRect(int32_t index, QRect& rect)
{
    if (!Shown.Known) {
        Shown = {true, 0, -1, 0, 0};
        const QModelIndex top = indexAt(QPoint(0, 0));
        if (top.isValid()) {
            const QRect first = visualRect(top);
            const QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
            Shown = {true, top.row(), bottom.isValid() ? bottom.row() : topLevelItemCount() - 1, first.top(),
                     first.height()};
        }
    }
    if (index < Shown.First || index > Shown.Last)
        return false;
    rect = QRect(0, Shown.Top + (index - Shown.First) * Shown.Height, viewport()->width(), Shown.Height);
    return true;
}

void TListViewFrameTable::ClearLines()
{
    ChangedCells.Flush();
    Shown = {};
    clear();
}

void TListViewFrameTable::scrollContentsBy(int dx, int dy)
{
    ChangedCells.Flush();
    Shown = {};
    QTreeWidget::scrollContentsBy(dx, dy);
}

void TListViewFrameTable::resizeEvent(QResizeEvent* event)
{
    ChangedCells.Flush();
    Shown = {};
    QTreeWidget::resizeEvent(event);
}

void TListViewFrameTable::ApplyRows(const std::vector<TFrameRowView>& rows)
{
    ClearLines();
    QList<QTreeWidgetItem*> lines;
    lines.reserve(static_cast<qsizetype>(rows.size()));
    for (const TFrameRowView& row : rows)
        lines.push_back(new TListItemFrameTable(row));
    addTopLevelItems(lines);
    AppliedCount += rows.size();
}

void TListViewFrameTable::RowChanged(const TTarvenixTableItem& row, int32_t index, bool isNew)
{
    ProcessPending();
    Shown = {};
    ApplyRow(TFrameRowView::From(row), index, isNew);
    ChangedCells.Schedule();
}

void TListViewFrameTable::Cleared()
{
    ProcessPending();
    ClearLines();
}

void TListViewFrameTable::RowsRebuild()
{
    ProcessPending();
    std::vector<TFrameRowView> rows;
    if (AttachedTable) {
        rows.reserve(static_cast<size_t>(AttachedTable->Count()));
        for (int32_t i = 0; i < AttachedTable->Count(); ++i)
            rows.push_back(TFrameRowView::From(*AttachedTable->Item(i)));
    }
    ApplyRows(rows);
}

TListItemFrameTable* TListViewFrameTable::Line(int32_t index) const
{
    if (index < 0 || index >= topLevelItemCount())
        return nullptr;
    QTreeWidgetItem* item = topLevelItem(index);
    return item && item->type() == TListItemFrameTable::kItemType ? static_cast<TListItemFrameTable*>(item) : nullptr;
}

TListViewFrameTable::TStatistics TListViewFrameTable::Statistics() const
{
    const TQueue::TCounters counts = Queue->Counts();
    TStatistics stats;
    stats.Queued = counts.Queued;
    stats.Drains = counts.Drains;
    stats.Applied = AppliedCount;
    stats.Skipped = counts.Redundant;
    stats.BusyNs = BusyNs;
    return stats;
}

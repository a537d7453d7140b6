#include "views/ListViewFrameTable.h"

#include <chrono>
#include <cstring>
#include <unordered_map>

#include <QFont>
#include <QHeaderView>
#include <QMetaObject>
#include <QThread>

#include "core/FrameText.h"
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

TListViewFrameTable::TListViewFrameTable(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

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
    std::lock_guard<std::mutex> guard(QueueLock);
    ++Generation;
    Queue.clear();
}

void TListViewFrameTable::SetTable(TTarvenixTable* table)
{
    Detach();
    uint64_t generation;
    {
        std::lock_guard<std::mutex> guard(QueueLock);
        generation = Generation;
    }
    if (table)
        Attach(table, generation);
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
        Enqueue(generation, std::move(pending));
    });
    table->SetOnCleared([this, generation]() {
        if (OnWindowThread()) {
            Cleared();
            return;
        }
        TPending pending;
        pending.Kind = TKind::Cleared;
        Enqueue(generation, std::move(pending));
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
        Enqueue(generation, std::move(pending));
    });
}

void TListViewFrameTable::Enqueue(uint64_t generation, TPending&& pending)
{
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(QueueLock);
        if (generation != Generation)
            return;
        Queue.push_back(std::move(pending));
        ++QueuedCount;
        post = !DrainPosted;
        DrainPosted = true;
    }
    // Posting never waits for the window thread; a view destroyed before the
    // drain runs takes the posted call with it.
    if (post)
        QMetaObject::invokeMethod(this, [this]() { ProcessPending(); }, Qt::QueuedConnection);
}

void TListViewFrameTable::ProcessPending()
{
    {
        std::lock_guard<std::mutex> guard(QueueLock);
        DrainPosted = false;
        if (Queue.empty())
            return;
        Work.swap(Queue);
    }
    const auto start = std::chrono::steady_clock::now();
    ++DrainCount;
    ApplyBatch(Work);
    Work.clear();
    BusyNs += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

void TListViewFrameTable::ApplyBatch(std::vector<TPending>& batch)
{
    // Everything before the last clear or rebuild is wiped out by it.
    size_t first = 0;
    for (size_t i = batch.size(); i > 0; --i) {
        if (batch[i - 1].Kind != TKind::Row) {
            first = i - 1;
            break;
        }
    }
    SkippedCount += first;

    // Consecutive updates of existing lines do not move lines, so only the
    // last update of each line (and row) in such a run needs to be applied.
    std::vector<size_t> run;
    std::unordered_map<uint64_t, size_t> lastOf;
    auto flush = [&]() {
        for (size_t at : run) {
            const TPending& p = batch[at];
            ApplyRow(p.Row, p.Index, false);
        }
        run.clear();
        lastOf.clear();
    };

    for (size_t i = first; i < batch.size(); ++i) {
        TPending& p = batch[i];
        switch (p.Kind) {
        case TKind::Cleared:
            flush();
            clear();
            break;
        case TKind::Rebuild:
            flush();
            ApplyRows(p.Rows);
            break;
        case TKind::Row:
            if (p.IsNew) {
                flush();
                ApplyRow(p.Row, p.Index, true);
            } else {
                const uint64_t slot = (static_cast<uint64_t>(static_cast<uint32_t>(p.Index)) << 32) | p.Row.ViewKey();
                auto [it, inserted] = lastOf.try_emplace(slot, run.size());
                if (inserted) {
                    run.push_back(i);
                } else {
                    run[it->second] = i;
                    ++SkippedCount;
                }
            }
            break;
        }
    }
    flush();
}

void TListViewFrameTable::ApplyRow(const TFrameRowView& row, int32_t index, bool isNew)
{
    const uint32_t key = row.ViewKey();
    if (isNew) {
        auto* line = new TListItemFrameTable;
        line->ViewKey = key;
        line->Row = row;
        line->setText(kColId, row.IdText());
        line->setText(kColDlc, row.LengthText());
        line->setText(kColData, row.DataText());
        line->setText(kColCount, row.CountText());
        line->setText(kColPeriod, row.PeriodText());
        // A position past the end (a view out of step) appends.
        const int count = topLevelItemCount();
        insertTopLevelItem(index < 0 || index > count ? count : index, line);
        ++AppliedCount;
        return;
    }
    TListItemFrameTable* line = Line(index);
    if (!line || line->ViewKey != key)
        return;
    line->Row = row;
    const QString texts[] = {row.LengthText(), row.DataText(), row.CountText(), row.PeriodText()};
    for (int c = kColDlc; c <= kColPeriod; ++c) {
        const QString& text = texts[c - kColDlc];
        if (line->text(c) != text)
            line->setText(c, text);
    }
    ++AppliedCount;
}

void TListViewFrameTable::ApplyRows(const std::vector<TFrameRowView>& rows)
{
    clear();
    QList<QTreeWidgetItem*> lines;
    lines.reserve(static_cast<qsizetype>(rows.size()));
    for (const TFrameRowView& row : rows) {
        auto* line = new TListItemFrameTable;
        line->ViewKey = row.ViewKey();
        line->Row = row;
        line->setText(kColId, row.IdText());
        line->setText(kColDlc, row.LengthText());
        line->setText(kColData, row.DataText());
        line->setText(kColCount, row.CountText());
        line->setText(kColPeriod, row.PeriodText());
        lines.push_back(line);
    }
    addTopLevelItems(lines);
    AppliedCount += rows.size();
}

void TListViewFrameTable::RowChanged(const TTarvenixTableItem& row, int32_t index, bool isNew)
{
    ProcessPending();
    ApplyRow(TFrameRowView::From(row), index, isNew);
}

void TListViewFrameTable::Cleared()
{
    ProcessPending();
    clear();
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
    TStatistics stats;
    {
        std::lock_guard<std::mutex> guard(QueueLock);
        stats.Queued = QueuedCount;
    }
    stats.Drains = DrainCount;
    stats.Applied = AppliedCount;
    stats.Skipped = SkippedCount;
    stats.BusyNs = BusyNs;
    return stats;
}

#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include <QRegion>
#include <QString>
#include <QVariant>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include "views/PacedRepaint.h"
#include "views/WindowQueue.h"

class TTarvenixTable;
class TTarvenixTableItem;

// What the view shows of one table row; a plain copy, so that a row can be
// handed from the reading thread to the window thread without waiting.
struct TFrameRowView {
    uint32_t Id = 0;
    int32_t Length = 0;
    uint8_t Data[8] = {};
    int32_t Count = 0;
    int32_t Period = 0;
    bool Request = false;
    bool Standard = false;

    static TFrameRowView From(const TTarvenixTableItem& row);
    // Row identity: Id, bit 31 for an extended identifier, bit 30 for a
    // remote-request row.
    uint32_t ViewKey() const;
    QString IdText() const; // "012", "00000012"
    QString LengthText() const;
    QString DataText() const; // "0A 0B 0C", "Request", or empty
    QString CountText() const;
    QString PeriodText() const;
};

// One line of the receive table view; ViewKey names the table row it shows.
// The line keeps the row's values, not its texts: a cell's text is formatted
// from them when it is asked for (when the cell is painted or read), so an
// update costs a copy of the values and nothing is formatted for lines that
// are scrolled away or changed again before the next paint.
class TListItemFrameTable : public QTreeWidgetItem {
public:
    static constexpr int kItemType = QTreeWidgetItem::UserType + 1;
    explicit TListItemFrameTable(const TFrameRowView& row)
        : QTreeWidgetItem(kItemType), ViewKey(row.ViewKey()), Row(row), IdText(row.IdText())
    {
    }

    QVariant data(int column, int role) const override;

    const uint32_t ViewKey;
    TFrameRowView Row; // the row as the line shows it now (also read for signal decoding)

private:
    const QString IdText; // the identifier never changes: formatted once
};

// The list view of a receive table: one line per table row in the table's
// order, following the table through its three notification hooks.
//
// The hooks run on the channel's reading thread while the channel runs. There
// the view copies what the notification names into its window queue, which
// merges repeated updates of one line and lets a clear or rebuild replace
// what is queued before it; it never waits for the window thread, so it
// cannot deadlock with the stop sequence or with SetTable. On the window
// thread a notification is applied at once, after what is still queued, so
// lines always change in notification order.
//
// The attached table must outlive the attachment: call SetTable(nullptr)
// (or attach another table) before the table is destroyed. The destructor
// detaches as well.
class TListViewFrameTable : public QTreeWidget {
    Q_OBJECT
public:
    enum TColumn { kColId, kColDlc, kColData, kColCount, kColPeriod, kColumnCount };

    explicit TListViewFrameTable(QWidget* parent = nullptr);
    ~TListViewFrameTable() override;

    // Detaches from the followed table (its hooks are emptied; handed-over
    // work of it is dropped), then attaches to `table` when there is one.
    // The lines are left as they are: ask the table for a rebuild afterwards.
    void SetTable(TTarvenixTable* table);
    TTarvenixTable* Table() const { return AttachedTable; }

    // The notification handlers, as the window thread applies them.
    void RowChanged(const TTarvenixTableItem& row, int32_t index, bool isNew);
    void Cleared();
    void RowsRebuild();

    // Applies everything handed over from another thread so far (window
    // thread only). Runs by itself from the event loop.
    void ProcessPending();

    TListItemFrameTable* Line(int32_t index) const;
    int32_t LineCount() const { return topLevelItemCount(); }

    // Counters of the hand-over, for measurements.
    struct TStatistics {
        uint64_t Queued = 0;  // notifications copied on another thread
        uint64_t Drains = 0;  // drains run on the window thread
        uint64_t Applied = 0; // line changes made (inserts, updates, rebuilt lines)
        uint64_t Skipped = 0; // queued notifications made redundant by a later one
        uint64_t BusyNs = 0;  // time the window thread spent applying queued work
    };
    TStatistics Statistics() const;

private:
    enum class TKind : uint8_t { Row, Cleared, Rebuild };
    struct TPending {
        TKind Kind = TKind::Row;
        bool IsNew = false;
        int32_t Index = 0;
        TFrameRowView Row;
        std::vector<TFrameRowView> Rows; // Rebuild only
    };
    using TQueue = TWindowQueue<TPending>;

    void Detach();
    void Attach(TTarvenixTable* table, uint64_t generation);
    bool OnWindowThread() const;
    void ApplyBatch(std::vector<TPending>& batch);
    void ApplyRow(const TFrameRowView& row, int32_t index, bool isNew);
    void ApplyRows(const std::vector<TFrameRowView>& rows);
    // Pending cell repaints go out before the lines move.
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void ClearLines();
    // The place on screen of line `index`, when it is shown.
    bool ShownLineRect(int32_t index, QRect& rect);

    TTarvenixTable* AttachedTable = nullptr;
    std::shared_ptr<TQueue> Queue; // shared with the reading thread

    // Window thread only.
    TPacedRepaint ChangedCells; // visible cells whose values changed quietly, not yet repainted
    // The lines on screen, found once per batch: all lines are equally high,
    // so a line's place follows from its index without asking the view.
    // Inserting lines moves them and makes the view repaint all of itself:
    // nothing more is tracked until the next batch then.
    struct TShownLines {
        bool Known = false;
        int32_t First = 0;
        int32_t Last = -1;
        int Top = 0;
        int Height = 0;
    } Shown;
    uint64_t AppliedCount = 0;
    uint64_t BusyNs = 0;
};

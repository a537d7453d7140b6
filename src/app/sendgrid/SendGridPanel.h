#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include <QPixmap>
#include <QWidget>

#include "app/sendgrid/SendGridRows.h"
#include "app/sendgrid/SendGridView.h"
#include "views/WindowQueue.h"

class QAction;
class QMenu;
class QPainter;
class QPushButton;
class QTimer;
class TCanSendList;
class TCanSendItem;
class TfmSendFrame;
class TDbcDatabase;

// What the transmit grid needs from the window that hosts it. Every callable
// is asked on the window's thread; an empty one counts as "none", 0 or false.
struct TSendGridHost {
    std::function<TCanSendList*()> CurrentList; // the shown channel's transmit list; may return nullptr
    std::function<int()> CurrentChannel;        // index of the shown channel
    std::function<bool()> CurrentExtended;      // the shown channel's settings are Extended
    std::function<bool()> IsCurrentChannelOpen;
    std::function<bool()> IsMultiChannel;
    std::function<void(const QString&)> ShowInfo; // plain information box
    std::function<bool(const QString&)> AskYesNo; // question box, Yes/No, No default; true = Yes
    // The loaded CAN database, for the item dialog's "Signals" part; null when none.
    std::function<std::shared_ptr<const TDbcDatabase>()> CurrentDatabase;
};

// The transmit grid, one job per file of this folder: SendGridRows (the rows
// over the transmit list: texts, row and index, tags, refresh, counts),
// SendGridDraw (drawing the cells), SendGridMouse (what presses do),
// SendGridView (the header and grid widgets), SendGridPanel (the panel, its
// buttons and their commands).
//
// The "Transmit" part of the main window's channel area: the grid of the shown
// channel's transmit list, the buttons beside it, the grid's pop-up menu and
// the timer that releases a pressed "Send" button.
//
// The window puts the panel into its "Transmit" group box, calls RefreshSendGrid
// whenever the shown channel (or its mode) changes and SetupSendGrid once at
// the end of its creation.
//
// Count updates: every shown item's OnCountChanged is bound to
// SendCountChanged. It runs on whatever thread sends, often with the list's
// lock held, so it only hands (count, tag) to the panel's window queue, merged
// per tag; it never waits for the window's thread and never takes the list's
// lock. The queue outlives the panel, so an item that sends after the panel is
// gone reaches nothing. Entries queued before the latest refresh are dropped
// there: the refresh has read every count afresh, and their tags may name old
// positions.
class TSendGridPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kColumnCount = kSendGridColumnCount;
    static constexpr int kRowHeight = 22;
    static constexpr int kCountColumn = kSendGridCountColumn;

    explicit TSendGridPanel(TSendGridHost host, QWidget* parent = nullptr);
    ~TSendGridPanel() override;

    // Column count, titles and widths, and the check bitmaps. Rows written by
    // an earlier RefreshSendGrid stay.
    void SetupSendGrid();
    // Rewrites every row from the current list and binds the items' Tag
    // (TSendGridTag: channel and position) and OnCountChanged. Without a list the grid
    // is left as it is.
    void RefreshSendGrid();
    // The items' count handler; any thread, never blocks.
    void SendCountChanged(int32_t count, uint32_t tag);

    // Grid row whose "Send" button is drawn pressed; 0 for none.
    int PressedRow() const { return Pressed; }
    // Grid row of the last press that was not an "Active"-cell press: 0 for
    // the header, -1 when it hit no row.
    int ClickRow() const { return Clicked; }
    // Grid rows, the header included.
    int RowCount() const;
    // The text of a grid cell (row 0: the titles); empty outside the grid.
    QString CellText(int row, int column) const;
    // The selected grid row (the grid's current row), 0 when none.
    int SelectedRow() const;
    void SelectRow(int row);

    // Shows the item dialog and returns its result. Replaceable so that tests
    // can fill the dialog in; by default a modal exec().
    std::function<int(TfmSendFrame&)> RunDialog;

    // Event handlers (grid rows and columns as the grid counts them).
    // Paints one cell, the header row included; `rect` excludes the grid lines.
    void sgSendDrawCell(QPainter* painter, const QRect& rect, int column, int row, bool selected);
    void sgSendMouseDown(int column, int row);
    void sgSendDblClick();
    void tmSendUpdateTimer();
    void btAddClick();
    void btEditClick();
    void btDeleteClick();
    // Copy: a duplicate of the selected item, inserted right after it and
    // selected; it starts inactive with count 0.
    void btCopyClick();
    void btUpClick();
    void Button2Click();
    void Resetcounters1Click();

    TSendGrid* sgSend;
    QWidget* Panel3;
    QPushButton* btAdd;
    QPushButton* btEdit;
    QPushButton* btDelete;
    QPushButton* btCopy;
    QPushButton* btUp;
    QPushButton* Button2;
    QMenu* pmSendList;
    QAction* Resetcounters1;
    QTimer* tmSendUpdate;

    // Host accessors with the defaults for an empty callable.
    TCanSendList* CurrentList() const;
    int CurrentChannel() const;
    bool CurrentExtended() const;
    bool IsCurrentChannelOpen() const;
    bool IsMultiChannel() const;

    const QPixmap& CheckOffBitmap() const { return CheckOff; }

private:
    struct TCountChange {
        int32_t Count;
        uint32_t Tag;
    };
    using TCountQueue = TWindowQueue<TCountChange>;

    void SetCell(int row, int column, const QString& text);
    void ApplyCountChanges(const std::vector<TCountChange>& batch);
    void RunItemDialog(int editMode, TCanSendItem* item);
    int SelectedIndex() const;
    // The current list when the selection names one of its items (its position
    // goes to `index`); none otherwise, and the command then does nothing.
    TCanSendList* ListOfSelectedItem(int& index) const;
    void MoveSelected(bool up);

    TSendGridHost Host;
    std::shared_ptr<TCountQueue> Counts;
    int Pressed = 0;
    int Clicked = 0;
    QPixmap CheckOn;
    QPixmap CheckOff;
    int BitmapWidth = 0;
    int BitmapHeight = 0;
};

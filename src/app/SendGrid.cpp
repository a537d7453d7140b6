#include "app/SendGrid.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>

#include "core/CanGeneral.h"
#include "core/FrameText.h"
#include "transmit/CanSend.h"
#include "transmit/CanSendList.h"
#include "transmit/SendFrameForm.h"

// The check bitmaps live in the widget library's resource file; a static
// library must register it itself or the linker drops it. Outside any
// namespace, as the registration function is declared there.
static void InitGridResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

struct TColumn {
    const char* Title;
    int Width;
};
constexpr std::array<TColumn, TSendGridPanel::kColumnCount> kColumns{{
    {"Mnemonic caption", 116},
    {"Active", 64},
    {"Type", 64},
    {"Period", 48},
    {"ID", 64},
    {"DLC", 30},
    {"Data", 136},
    {"Count", 48},
}};

const QColor kSilver(192, 192, 192);
const QColor kSelected(0, 255, 255);
const QColor kOutline(0, 0, 255);
const QColor kPressed(255, 255, 0);

using TRowTexts = std::array<QString, TSendGridPanel::kColumnCount>;

TRowTexts RowTexts(const TCanSendItem& item, bool standardIds)
{
    TRowTexts row;
    row[0] = QString::fromStdString(item.Caption);
    row[1] = item.Active ? QStringLiteral("1") : QStringLiteral("0");
    row[2] = QString::fromStdString(item.GetTypeName());
    if (item.SendType == cstPeriodic)
        row[3] = QString::number(item.Period);
    row[4] = QString::fromStdString(FormatCanId(item.Frame.Id, standardIds));
    row[5] = QString::number(item.Frame.Length);
    if (item.Frame.Request) {
        row[6] = QStringLiteral("Request");
    } else {
        // Each byte followed by a space, the last one too.
        std::string data;
        AppendDataBytes(data, item.Frame.Data, CanDataBytes(item.Frame.Length), ' ');
        if (!data.empty())
            data += ' ';
        row[6] = QString::fromStdString(data);
    }
    row[7] = QString::number(item.Count);
    return row;
}

// Writes `text` clipped to `cell`, horizontally centred on `centreX`, with the
// top of the text at `top`.
void DrawCellText(QPainter* painter, const QRect& cell, const QString& text, int centreX, int top)
{
    if (text.isEmpty())
        return;
    const QFontMetrics metrics(painter->font());
    const int x = centreX - metrics.horizontalAdvance(text) / 2;
    painter->setClipRect(cell, Qt::IntersectClip);
    painter->setPen(Qt::black);
    painter->drawText(QPoint(x, top + metrics.ascent()), text);
}

// The rounded "Send" button of a Single item, yellow while pressed.
void DrawSendButton(QPainter* painter, const QRect& cell, bool pressed)
{
    const int left = cell.left();
    const int top = cell.top();
    const int right = left + cell.width();
    const int bottom = top + cell.height();
    // The part of the cell outside the button shows the grid's own
    // background, whatever the row's selection.
    painter->fillRect(cell, Qt::white);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(kOutline, 1));
    painter->setBrush(pressed ? kPressed : kSilver);
    // From (L + 6, T + 2) to (R - 6, B - 2), the far corner excluded, with
    // 10 x 10 corner ellipses; half-pixel offsets keep the 1-pixel outline sharp.
    const QRectF button(left + 6 + 0.5, top + 2 + 0.5, (right - 6) - (left + 6) - 1, (bottom - 2) - (top + 2) - 1);
    painter->drawRoundedRect(button, 5, 5);
    painter->restore();
    painter->save();
    DrawCellText(painter, cell, QStringLiteral("Send"), ((left + 6) + (right - 6)) / 2, top + 4);
    painter->restore();
}

QColor GridLineColor(const QWidget* widget)
{
    QStyleOptionViewItem option;
    option.initFrom(widget);
    return QColor::fromRgba(static_cast<QRgb>(widget->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, widget)));
}

} // namespace

// Draws every data cell; the view itself draws only the grid lines.
class TSendGridDelegate : public QStyledItemDelegate {
public:
    TSendGridDelegate(TSendGridPanel* panel, QObject* parent) : QStyledItemDelegate(parent), Panel(panel) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        Panel->sgSendDrawCell(painter, option.rect, index.column(), index.row() + 1,
                              (option.state & QStyle::State_Selected) != 0);
    }

private:
    TSendGridPanel* Panel;
};

// ---------------------------------------------------------------- header

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
    painter->setPen(GridLineColor(this));
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

// ---------------------------------------------------------------- grid

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
    return {column, row + 1};
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

// ---------------------------------------------------------------- panel

TSendGridPanel::TSendGridPanel(TSendGridHost host, QWidget* parent)
    : QWidget(parent), Host(std::move(host)),
      Counts(TCountQueue::Create(this, [this](std::vector<TCountChange>& batch) { ApplyCountChanges(batch); }))
{
    InitGridResources();
    setObjectName(QStringLiteral("TransmitPanel"));

    RunDialog = [](TfmSendFrame& dialog) { return dialog.exec(); };

    sgSend = new TSendGrid(this, this);

    Panel3 = new QWidget(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedWidth(90);
    const auto button = [this](const char* name, const char* caption, int top) {
        auto* b = new QPushButton(QString::fromLatin1(caption), Panel3);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(8, top, 75, 25);
        return b;
    };
    btAdd = button("btAdd", "Add", 0);
    btEdit = button("btEdit", "Edit", 32);
    btDelete = button("btDelete", "Remove", 64);
    btCopy = button("btCopy", "Copy", 96);
    btUp = button("btUp", "Move Up", 128);
    Button2 = button("Button2", "Move Down", 160);
    Panel3->setMinimumHeight(185);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sgSend, 1);
    layout->addWidget(Panel3, 0);

    pmSendList = new QMenu(this);
    pmSendList->setObjectName(QStringLiteral("pmSendList"));
    Resetcounters1 = pmSendList->addAction(QStringLiteral("Reset counters"));
    Resetcounters1->setObjectName(QStringLiteral("Resetcounters1"));
    sgSend->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sgSend, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { pmSendList->popup(sgSend->viewport()->mapToGlobal(pos)); });
    sgSend->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sgSend->horizontalHeader(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { pmSendList->popup(sgSend->horizontalHeader()->mapToGlobal(pos)); });

    tmSendUpdate = new QTimer(this);
    tmSendUpdate->setObjectName(QStringLiteral("tmSendUpdate"));
    tmSendUpdate->setInterval(100);
    tmSendUpdate->setSingleShot(true);

    connect(tmSendUpdate, &QTimer::timeout, this, [this] { tmSendUpdateTimer(); });
    connect(btAdd, &QPushButton::clicked, this, [this] { btAddClick(); });
    connect(btEdit, &QPushButton::clicked, this, [this] { btEditClick(); });
    connect(btDelete, &QPushButton::clicked, this, [this] { btDeleteClick(); });
    connect(btCopy, &QPushButton::clicked, this, [this] { btCopyClick(); });
    connect(btUp, &QPushButton::clicked, this, [this] { btUpClick(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Resetcounters1, &QAction::triggered, this, [this] { Resetcounters1Click(); });
}

TSendGridPanel::~TSendGridPanel()
{
    // Items keep their handler after the panel is gone; from now on it reaches nothing.
    Counts->Close();
}

TCanSendList* TSendGridPanel::CurrentList() const
{
    return Host.CurrentList ? Host.CurrentList() : nullptr;
}

int TSendGridPanel::CurrentChannel() const
{
    return Host.CurrentChannel ? Host.CurrentChannel() : 0;
}

bool TSendGridPanel::CurrentExtended() const
{
    return Host.CurrentExtended ? Host.CurrentExtended() : false;
}

bool TSendGridPanel::IsCurrentChannelOpen() const
{
    return Host.IsCurrentChannelOpen ? Host.IsCurrentChannelOpen() : false;
}

bool TSendGridPanel::IsMultiChannel() const
{
    return Host.IsMultiChannel ? Host.IsMultiChannel() : false;
}

void TSendGridPanel::SetupSendGrid()
{
    sgSend->setColumnCount(kColumnCount);
    QStringList titles;
    for (const TColumn& column : kColumns)
        titles << QString::fromLatin1(column.Title);
    sgSend->setHorizontalHeaderLabels(titles);
    for (int i = 0; i < kColumnCount; ++i)
        sgSend->setColumnWidth(i, kColumns[static_cast<size_t>(i)].Width);

    CheckOff = QPixmap(QStringLiteral(":/bitmaps/CHECK_OFF.bmp"));
    CheckOn = QPixmap(QStringLiteral(":/bitmaps/CHECK_ON.bmp"));
    BitmapWidth = CheckOff.width();
    BitmapHeight = CheckOff.height();
    sgSend->viewport()->update();
}

void TSendGridPanel::RefreshSendGrid()
{
    TCanSendList* list = CurrentList();
    if (list == nullptr)
        return;
    const bool standardIds = !CurrentExtended();
    const uint32_t channel = static_cast<uint32_t>(CurrentChannel());
    const auto handler = [counts = Counts](int32_t count, uint32_t tag) {
        counts->Push(TCountQueue::kCurrent, TCountQueue::TRule::Merge, {count, tag}, tag);
    };

    std::vector<TRowTexts> rows;
    {
        // The scans read Tag and OnCountChanged and write Count: bind and read
        // under the list's lock. Counts queued before this point are dropped,
        // as every count is read afresh here.
        std::lock_guard guard(list->Lock());
        Counts->NewGeneration();
        const int32_t count = list->Count();
        rows.reserve(static_cast<size_t>(count));
        for (int32_t p = 0; p < count; ++p) {
            TCanSendItem* item = list->GetItem(p);
            rows.push_back(RowTexts(*item, standardIds));
            item->Tag = channel * 65536u + static_cast<uint32_t>(p);
            item->OnCountChanged = handler;
        }
    }

    sgSend->setRowCount(std::max(static_cast<int>(rows.size()), 1));
    if (rows.empty()) {
        for (int c = 0; c < kColumnCount; ++c)
            SetCell(1, c, QString());
    }
    for (size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < kColumnCount; ++c)
            SetCell(static_cast<int>(r) + 1, c, rows[r][static_cast<size_t>(c)]);

    const int selected = SelectedRow();
    if (selected < 1 || selected >= RowCount())
        SelectRow(std::clamp(selected, 1, RowCount() - 1));
    sgSend->viewport()->update();
}

void TSendGridPanel::SendCountChanged(int32_t count, uint32_t tag)
{
    Counts->Push(TCountQueue::kCurrent, TCountQueue::TRule::Merge, {count, tag}, tag);
}

void TSendGridPanel::ApplyCountChanges(const std::vector<TCountChange>& batch)
{
    const int channel = CurrentChannel();
    for (const TCountChange& change : batch) {
        if (static_cast<int>((change.Tag >> 16) & 255u) != channel)
            continue;
        const int row = static_cast<int>(change.Tag & 65535u) + 1;
        if (row < RowCount())
            SetCell(row, kCountColumn, QString::number(change.Count));
    }
}

int TSendGridPanel::RowCount() const
{
    return sgSend->rowCount() + 1;
}

QString TSendGridPanel::CellText(int row, int column) const
{
    if (row == 0) {
        const QTableWidgetItem* title = sgSend->horizontalHeaderItem(column);
        return title != nullptr ? title->text() : QString();
    }
    const QTableWidgetItem* cell = sgSend->item(row - 1, column);
    return cell != nullptr ? cell->text() : QString();
}

void TSendGridPanel::SetCell(int row, int column, const QString& text)
{
    QTableWidgetItem* cell = sgSend->item(row - 1, column);
    if (cell == nullptr) {
        cell = new QTableWidgetItem(text);
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        sgSend->setItem(row - 1, column, cell);
    } else if (cell->text() != text) {
        cell->setText(text);
    }
}

int TSendGridPanel::SelectedRow() const
{
    const int row = sgSend->currentRow();
    return row < 0 ? 0 : row + 1;
}

void TSendGridPanel::SelectRow(int row)
{
    if (row < 1 || row >= RowCount())
        return;
    const QModelIndex index = sgSend->model()->index(row - 1, std::max(sgSend->currentColumn(), 0));
    sgSend->selectionModel()->setCurrentIndex(index,
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TSendGridPanel::SelectedIndex() const
{
    return SelectedRow() - 1;
}

TCanSendList* TSendGridPanel::ListOfSelectedItem(int& index) const
{
    TCanSendList* list = CurrentList();
    index = SelectedIndex();
    return list != nullptr && index >= 0 && index < list->Count() ? list : nullptr;
}

void TSendGridPanel::sgSendDrawCell(QPainter* painter, const QRect& rect, int column, int row, bool selected)
{
    const int left = rect.left();
    const int top = rect.top();
    const int right = left + rect.width();
    const int bottom = top + rect.height();
    painter->save();
    painter->setFont(sgSend->font());

    QColor background = Qt::white;
    QString text;
    if (row == 0) {
        background = kSilver;
        text = CellText(0, column);
    } else {
        const TCanSendList* list = CurrentList();
        if (list == nullptr) {
            painter->restore();
            return;
        }
        if (list->Count() > 0) {
            if (selected)
                background = kSelected;
            if (column == 1) {
                const TCanSendItem* item = list->GetItem(row - 1);
                if (item != nullptr && item->SendType == cstSingle) {
                    DrawSendButton(painter, rect, row == Pressed);
                } else {
                    painter->fillRect(rect, background);
                    const QPixmap& bitmap = CellText(row, 1) == QLatin1String("1") ? CheckOn : CheckOff;
                    painter->drawPixmap((left + right - BitmapWidth) / 2, (top + bottom - BitmapHeight) / 2, bitmap);
                }
                painter->restore();
                return;
            }
            text = CellText(row, column);
        }
    }
    painter->fillRect(rect, background);
    DrawCellText(painter, rect, text, (left + right) / 2, top + 1);
    painter->restore();
}

void TSendGridPanel::sgSendMouseDown(int column, int row)
{
    Clicked = -1;
    TCanSendList* list = CurrentList();
    if (list == nullptr || list->Count() == 0)
        return;
    if (row > 0 && column == 1) {
        TCanSendItem* item = list->GetItem(row - 1);
        if (item == nullptr)
            return;
        if (item->SendType != cstSingle) {
            bool active = false;
            {
                std::lock_guard guard(list->Lock());
                item->Active = !item->Active;
                active = item->Active;
            }
            SetCell(row, 1, active ? QStringLiteral("1") : QStringLiteral("0"));
            return;
        }
        if (IsCurrentChannelOpen()) {
            // Send writes Count and LastSendTime, which the scans read.
            std::lock_guard guard(list->Lock());
            item->Send();
        }
        Pressed = row;
        sgSend->viewport()->repaint();
        if (!tmSendUpdate->isActive())
            tmSendUpdate->start();
        return;
    }
    Clicked = row;
}

void TSendGridPanel::sgSendDblClick()
{
    if (Clicked > 0)
        btEditClick();
}

void TSendGridPanel::tmSendUpdateTimer()
{
    tmSendUpdate->stop();
    Pressed = 0;
    sgSend->viewport()->repaint();
    if (IsCurrentChannelOpen())
        return;
    if (!Host.ShowInfo)
        return;
    if (IsMultiChannel())
        Host.ShowInfo(QStringLiteral("The channel #%1 is not opened").arg(CurrentChannel() + 1));
    else
        Host.ShowInfo(QStringLiteral("No connection with CanBus adapter"));
}

void TSendGridPanel::RunItemDialog(int editMode, TCanSendItem* item)
{
    TCanSendList* list = CurrentList();
    if (list == nullptr)
        return;
    TfmSendFrame dialog(this);
    dialog.EditMode = editMode;
    dialog.StandardId = !CurrentExtended();
    dialog.Item = item;
    dialog.List = list;
    const int result = RunDialog ? RunDialog(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return;
    if (editMode == 0) {
        std::unique_ptr<TCanSendItem> created = dialog.TakeNewItem();
        if (!created)
            return;
        list->Add(std::move(created));
    }
    RefreshSendGrid();
}

void TSendGridPanel::btAddClick()
{
    RunItemDialog(0, nullptr);
}

void TSendGridPanel::btEditClick()
{
    int index = -1;
    if (TCanSendList* list = ListOfSelectedItem(index))
        RunItemDialog(1, list->GetItem(index));
}

void TSendGridPanel::btDeleteClick()
{
    int index = -1;
    TCanSendList* list = ListOfSelectedItem(index);
    if (list == nullptr)
        return;
    if (!Host.AskYesNo || !Host.AskYesNo(QStringLiteral("Are you sure you want to remove this item?")))
        return;
    list->Delete(index);
    RefreshSendGrid();
}

void TSendGridPanel::btCopyClick()
{
    int index = -1;
    TCanSendList* list = ListOfSelectedItem(index);
    if (list == nullptr)
        return;
    const TCanSendItem* source = list->GetItem(index);
    auto copy = std::make_unique<TCanSendItem>();
    copy->Caption = source->Caption;
    copy->Frame = source->Frame;
    copy->Frame.Time = 0;
    copy->SendType = source->SendType;
    copy->Period = source->Period;
    // Active, Count and LastSendTime start afresh: a copy sends nothing
    // until the operator ticks it.
    list->Add(std::move(copy));
    for (int p = list->Count() - 1; p > index + 1; --p)
        list->MoveUp(p);
    RefreshSendGrid();
    SelectRow(index + 2);
}

void TSendGridPanel::MoveSelected(bool up)
{
    // The selection follows the item.
    int index = -1;
    TCanSendList* list = ListOfSelectedItem(index);
    if (list != nullptr && (up ? list->MoveUp(index) : list->MoveDown(index))) {
        SelectRow(SelectedRow() + (up ? -1 : 1));
        RefreshSendGrid();
    }
}

void TSendGridPanel::btUpClick()
{
    MoveSelected(true);
}

void TSendGridPanel::Button2Click()
{
    MoveSelected(false);
}

void TSendGridPanel::Resetcounters1Click()
{
    if (TCanSendList* list = CurrentList())
        list->ResetCounters();
}

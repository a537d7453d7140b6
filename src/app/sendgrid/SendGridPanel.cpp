#include "app/sendgrid/SendGridPanel.h"

#include <memory>

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

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
    for (const TSendGridColumn& column : kSendGridColumns)
        titles << QString::fromLatin1(column.Title);
    sgSend->setHorizontalHeaderLabels(titles);
    for (int i = 0; i < kColumnCount; ++i)
        sgSend->setColumnWidth(i, kSendGridColumns[static_cast<size_t>(i)].Width);

    CheckOff = QPixmap(QStringLiteral(":/bitmaps/CHECK_OFF.bmp"));
    CheckOn = QPixmap(QStringLiteral(":/bitmaps/CHECK_ON.bmp"));
    BitmapWidth = CheckOff.width();
    BitmapHeight = CheckOff.height();
    sgSend->viewport()->update();
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
    if (Host.CurrentDatabase)
        dialog.Database = Host.CurrentDatabase();
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
    TCanSendList* list = ListOfSelectedItem(index);
    if (list == nullptr)
        return;
    TCanSendItem* item = nullptr;
    {
        // Only this thread deletes items: the pointer stays good while the
        // dialog runs, and the dialog changes the item under the lock.
        TSendListLock guard(*list);
        item = list->GetItem(index);
    }
    RunItemDialog(1, item);
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
    auto copy = std::make_unique<TCanSendItem>();
    {
        TSendListLock guard(*list);
        const TCanSendItem* source = list->GetItem(index);
        copy->Caption = source->Caption;
        copy->Frame = source->Frame;
        copy->SendType = source->SendType;
        copy->Period = source->Period;
        copy->Frame.Time = 0;
    }
    // Active, Count and LastSendTime start afresh: a copy sends nothing
    // until the operator ticks it.
    list->Add(std::move(copy));
    int32_t last = 0;
    {
        TSendListLock guard(*list);
        last = list->Count() - 1;
    }
    for (int p = last; p > index + 1; --p)
        list->MoveUp(p);
    RefreshSendGrid();
    SelectRow(GridRowOfIndex(index + 1));
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

// The transmit grid: rows from the list, the mouse rules of the "Active"
// column, the "Send" button and its timer, the commands beside the grid, the
// count updates from other threads, and how the cells are drawn.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "adapter/GuiTestSupport.h"
#include "app/SendGrid.h"
#include "transmit/CanSendList.h"
#include "transmit/SendFrameForm.h"

namespace {

// Processes events until `done` holds or the (generous) limit has passed.
bool WaitUntil(const std::function<bool()>& done, int limitMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Lets queued count updates arrive.
void Flush()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

TCanSendItem* AddItem(TCanSendList& list, int32_t type, bool active, uint32_t id, int32_t length = 0,
                      const char* caption = "", int32_t period = 0)
{
    auto item = std::make_unique<TCanSendItem>();
    item->SendType = type;
    item->Active = active;
    item->Frame.Id = id;
    item->Frame.Length = length;
    for (int i = 0; i < 8; ++i)
        item->Frame.Data[i] = static_cast<uint8_t>(i + 1);
    item->Caption = caption;
    item->Period = period;
    TCanSendItem* raw = item.get();
    list.Add(std::move(item));
    return raw;
}

// A window stand-in: a real transmit list whose send handler records the
// frames, the channel's state, and the message boxes it was asked to show.
struct TFakeWindow {
    TCanSendList List;
    bool HasList = true;
    int Channel = 0;
    bool Extended = false;
    bool Open = false;
    bool Multi = false;
    bool Answer = true;
    std::vector<QString> Infos;
    std::vector<QString> Questions;
    std::vector<TCanFrame> Sent;

    TFakeWindow()
    {
        List.SetPersistent(false);
        List.SetOnSend([this](const TCanFrame& frame) { Sent.push_back(frame); });
    }

    TSendGridHost Host()
    {
        TSendGridHost host;
        host.CurrentList = [this]() { return HasList ? &List : nullptr; };
        host.CurrentChannel = [this] { return Channel; };
        host.CurrentExtended = [this] { return Extended; };
        host.IsCurrentChannelOpen = [this] { return Open; };
        host.IsMultiChannel = [this] { return Multi; };
        host.ShowInfo = [this](const QString& text) { Infos.push_back(text); };
        host.AskYesNo = [this](const QString& text) {
            Questions.push_back(text);
            return Answer;
        };
        return host;
    }
};

// The panel as the window sets it up, shown offscreen, with dialogs recorded.
struct TGrid {
    TFakeWindow Window;
    TSendGridPanel Panel;
    int Dialogs = 0;
    std::function<void(TfmSendFrame&)> FillDialog; // none: the dialog is cancelled
    std::vector<int> DialogModes;
    std::vector<TCanSendItem*> DialogItems;

    TGrid() : Panel(Window.Host())
    {
        Panel.RunDialog = [this](TfmSendFrame& dialog) {
            ++Dialogs;
            DialogModes.push_back(dialog.EditMode);
            DialogItems.push_back(dialog.Item);
            dialog.ShowMessage = [](const QString&) {};
            dialog.FormShow();
            if (!FillDialog)
                return static_cast<int>(QDialog::Rejected);
            FillDialog(dialog);
            dialog.StoreItem();
            return dialog.result();
        };
        Panel.SetupSendGrid();
        Panel.resize(720, 200);
        Panel.show();
        QCoreApplication::processEvents();
    }

    QWidget* Viewport() const { return Panel.sgSend->viewport(); }

    QRect CellRect(int row, int column) const
    {
        return Panel.sgSend->visualRect(Panel.sgSend->model()->index(row - 1, column));
    }

    QPoint Centre(int row, int column) const { return CellRect(row, column).center(); }

    void Press(int row, int column, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(Viewport(), button, {}, Centre(row, column));
        QTest::mouseRelease(Viewport(), button, {}, Centre(row, column));
    }

    // What the window system delivers: press, release, double click, release.
    void DoubleClick(QWidget* target, const QPoint& at)
    {
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
        QTest::mouseDClick(target, Qt::LeftButton, {}, at);
        QTest::mouseRelease(target, Qt::LeftButton, {}, at);
    }

    QImage Picture() const { return Viewport()->grab().toImage(); }
};

QColor PixelAt(const QImage& image, QPoint at)
{
    return image.pixelColor(at);
}

} // namespace

TEST(SendGrid, ControlsAsDesigned)
{
    TGrid grid;
    TSendGridPanel& p = grid.Panel;
    EXPECT_EQ(p.objectName(), QStringLiteral("TransmitPanel"));
    auto* sgSend = p.findChild<QTableWidget*>(QStringLiteral("sgSend"));
    ASSERT_EQ(sgSend, p.sgSend);
    ASSERT_EQ(sgSend->columnCount(), 8);
    const char* titles[] = {"Mnemonic caption", "Active", "Type", "Period", "ID", "DLC", "Data", "Count"};
    const int widths[] = {116, 64, 64, 48, 64, 30, 136, 48};
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(p.CellText(0, c), QString::fromLatin1(titles[c]));
        EXPECT_EQ(sgSend->columnWidth(c), widths[c]) << c;
    }
    EXPECT_EQ(sgSend->horizontalHeader()->height(), 22);
    EXPECT_EQ(sgSend->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    EXPECT_TRUE(sgSend->verticalHeader()->isHidden());
    EXPECT_EQ(sgSend->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(sgSend->editTriggers(), QAbstractItemView::NoEditTriggers);

    ASSERT_NE(p.findChild<QWidget*>(QStringLiteral("Panel3")), nullptr);
    EXPECT_EQ(p.Panel3->width(), 90);
    EXPECT_GT(p.Panel3->x(), sgSend->x()) << "the buttons are on the right";
    struct TButton {
        const char* Name;
        const char* Caption;
        int Top;
    };
    const TButton buttons[] = {{"btAdd", "Add", 0},     {"btEdit", "Edit", 32},   {"btDelete", "Remove", 64},
                               {"btCopy", "Copy", 96},  {"btUp", "Move Up", 128}, {"Button2", "Move Down", 160}};
    for (const TButton& b : buttons) {
        auto* button = p.Panel3->findChild<QPushButton*>(QString::fromLatin1(b.Name));
        ASSERT_NE(button, nullptr) << b.Name;
        EXPECT_EQ(button->text(), QString::fromLatin1(b.Caption));
        EXPECT_EQ(button->geometry(), QRect(8, b.Top, 75, 25)) << b.Name;
    }
    auto* menu = p.findChild<QMenu*>(QStringLiteral("pmSendList"));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->objectName(), QStringLiteral("Resetcounters1"));
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Reset counters"));
    auto* timer = p.findChild<QTimer*>(QStringLiteral("tmSendUpdate"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(p.PressedRow(), 0);
    EXPECT_EQ(p.ClickRow(), 0);
}

TEST(SendGrid, EmptyListShowsOneBlankRowThatIgnoresPresses)
{
    TGrid grid;
    grid.Panel.RefreshSendGrid();
    EXPECT_EQ(grid.Panel.RowCount(), 2);
    EXPECT_EQ(grid.Panel.sgSend->rowHeight(0), 22);
    for (int c = 0; c < 8; ++c)
        EXPECT_TRUE(grid.Panel.CellText(1, c).isEmpty());
    for (int c = 0; c < 8; ++c)
        grid.Press(1, c);
    grid.DoubleClick(grid.Viewport(), grid.Centre(1, 4));
    EXPECT_EQ(grid.Panel.ClickRow(), -1);
    EXPECT_EQ(grid.Panel.PressedRow(), 0);
    EXPECT_FALSE(grid.Panel.tmSendUpdate->isActive());
    EXPECT_EQ(grid.Dialogs, 0);
    // Commands on an empty list do nothing and ask nothing.
    grid.Panel.btEditClick();
    grid.Panel.btDeleteClick();
    grid.Panel.btCopyClick();
    grid.Panel.btUpClick();
    grid.Panel.Button2Click();
    EXPECT_EQ(grid.Dialogs, 0);
    EXPECT_TRUE(grid.Window.Questions.empty());
    EXPECT_EQ(grid.Window.List.Count(), 0);

    // The blank row is white, even when selected.
    const QImage picture = grid.Picture();
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(PixelAt(picture, grid.Centre(1, c)), QColor(Qt::white)) << c;

    // After the last item goes, the old texts are gone too.
    AddItem(grid.Window.List, cstPeriodic, true, 0x123, 2, "Gone");
    grid.Panel.RefreshSendGrid();
    EXPECT_EQ(grid.Panel.CellText(1, 0), QStringLiteral("Gone"));
    grid.Window.List.Delete(0);
    grid.Panel.RefreshSendGrid();
    EXPECT_EQ(grid.Panel.RowCount(), 2);
    EXPECT_TRUE(grid.Panel.CellText(1, 0).isEmpty());
}

TEST(SendGrid, RowTextsAndIdentifierWidths)
{
    TGrid grid;
    TCanSendList& list = grid.Window.List;
    AddItem(list, cstPeriodic, true, 0x7FF, 2, "Engine", 100);
    TCanSendItem* single = AddItem(list, cstSingle, false, 0x5, 0, "", 250);
    AddItem(list, cstOnRequest, false, 0x12345, 8, "Wide", 77);
    TCanSendItem* remote = AddItem(list, cstPeriodic, false, 0x10, 3, "Rtr", 5);
    remote->Frame.Request = true;
    single->Count = 4;
    grid.Window.Channel = 2;
    grid.Panel.RefreshSendGrid();

    ASSERT_EQ(grid.Panel.RowCount(), 5);
    const char* expected[4][8] = {
        {"Engine", "1", "Periodic", "100", "7FF", "2", "01 02 ", "0"},
        {"", "0", "Single", "", "005", "0", "", "4"},
        {"Wide", "0", "OnRequest", "", "12345", "8", "01 02 03 04 05 06 07 08 ", "0"},
        {"Rtr", "0", "Periodic", "5", "010", "3", "Request", "0"},
    };
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c)
            EXPECT_EQ(grid.Panel.CellText(r + 1, c), QString::fromLatin1(expected[r][c])) << r << "," << c;
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(list.GetItem(p)->Tag, 2u * 65536u + static_cast<uint32_t>(p));
        EXPECT_TRUE(static_cast<bool>(list.GetItem(p)->OnCountChanged));
    }

    grid.Window.Extended = true;
    grid.Panel.RefreshSendGrid();
    EXPECT_EQ(grid.Panel.CellText(1, 4), QStringLiteral("000007FF"));
    EXPECT_EQ(grid.Panel.CellText(2, 4), QStringLiteral("00000005"));
    EXPECT_EQ(grid.Panel.CellText(3, 4), QStringLiteral("00012345"));

    // Without a list the grid stays as it is.
    grid.Window.HasList = false;
    grid.Panel.RefreshSendGrid();
    EXPECT_EQ(grid.Panel.RowCount(), 5);
    EXPECT_EQ(grid.Panel.CellText(1, 0), QStringLiteral("Engine"));
}

TEST(SendGrid, ActiveCellTogglesAndDoubleClickCountsTwice)
{
    TGrid grid;
    TCanSendItem* periodic = AddItem(grid.Window.List, cstPeriodic, false, 0x100, 1, "P", 100);
    TCanSendItem* request = AddItem(grid.Window.List, cstOnRequest, true, 0x200, 1, "R");
    grid.Panel.RefreshSendGrid();

    grid.Press(1, 1);
    EXPECT_TRUE(periodic->Active);
    EXPECT_EQ(grid.Panel.CellText(1, 1), QStringLiteral("1"));
    EXPECT_EQ(grid.Panel.ClickRow(), -1);
    grid.Press(1, 1);
    EXPECT_FALSE(periodic->Active);
    EXPECT_EQ(grid.Panel.CellText(1, 1), QStringLiteral("0"));

    // The right button acts the same, and the pop-up menu opens too.
    QTest::mousePress(grid.Viewport(), Qt::RightButton, {}, grid.Centre(2, 1));
    EXPECT_FALSE(request->Active);
    QCoreApplication::processEvents();
    grid.Panel.pmSendList->hide();
    QTest::mouseRelease(grid.Viewport(), Qt::RightButton, {}, grid.Centre(2, 1));

    grid.DoubleClick(grid.Viewport(), grid.Centre(1, 1));
    EXPECT_FALSE(periodic->Active) << "two toggles";
    EXPECT_EQ(grid.Panel.CellText(1, 1), QStringLiteral("0"));
    EXPECT_EQ(grid.Dialogs, 0) << "no dialog from the Active cell";
    EXPECT_TRUE(grid.Window.Sent.empty());
}

TEST(SendGrid, DoubleClickElsewhereOpensTheEditDialog)
{
    TGrid grid;
    AddItem(grid.Window.List, cstPeriodic, false, 0x100, 1, "A", 10);
    TCanSendItem* second = AddItem(grid.Window.List, cstSingle, false, 0x200, 1, "B");
    grid.Panel.RefreshSendGrid();

    grid.DoubleClick(grid.Viewport(), grid.Centre(2, 4));
    EXPECT_EQ(grid.Dialogs, 1);
    ASSERT_EQ(grid.DialogModes.size(), 1u);
    EXPECT_EQ(grid.DialogModes[0], 1);
    EXPECT_EQ(grid.DialogItems[0], second);
    EXPECT_EQ(grid.Panel.ClickRow(), 2);
    EXPECT_EQ(grid.Panel.SelectedRow(), 2);

    // The header does nothing.
    QWidget* header = grid.Panel.sgSend->horizontalHeader()->viewport();
    grid.DoubleClick(header, QPoint(40, 10));
    EXPECT_EQ(grid.Dialogs, 1);
    EXPECT_EQ(grid.Panel.ClickRow(), 0);

    // A double click on a Single item's "Send" sends twice when open.
    grid.Window.Open = true;
    grid.DoubleClick(grid.Viewport(), grid.Centre(2, 1));
    EXPECT_EQ(grid.Window.Sent.size(), 2u);
    EXPECT_EQ(grid.Dialogs, 1);
}

TEST(SendGrid, SendWhileClosedReportsAfterTheTimerAndSendsNothing)
{
    TGrid grid;
    TCanSendItem* single = AddItem(grid.Window.List, cstSingle, false, 0x7A5, 2, "Probe");
    grid.Panel.RefreshSendGrid();

    grid.Press(1, 1);
    EXPECT_TRUE(grid.Window.Sent.empty());
    EXPECT_EQ(single->Count, 0);
    EXPECT_EQ(grid.Panel.PressedRow(), 1);
    EXPECT_TRUE(grid.Panel.tmSendUpdate->isActive());
    EXPECT_TRUE(grid.Window.Infos.empty()) << "the message waits for the timer";
    ASSERT_TRUE(WaitUntil([&] { return !grid.Window.Infos.empty(); }));
    EXPECT_EQ(grid.Window.Infos, std::vector<QString>{QStringLiteral("No connection with CanBus adapter")});
    EXPECT_EQ(grid.Panel.PressedRow(), 0);
    EXPECT_FALSE(grid.Panel.tmSendUpdate->isActive());
    EXPECT_TRUE(grid.Window.Sent.empty());
    EXPECT_EQ(grid.Panel.CellText(1, 7), QStringLiteral("0"));

    grid.Window.Multi = true;
    grid.Window.Channel = 1;
    grid.Panel.RefreshSendGrid();
    grid.Press(1, 1);
    ASSERT_TRUE(WaitUntil([&] { return grid.Window.Infos.size() == 2; }));
    EXPECT_EQ(grid.Window.Infos[1], QStringLiteral("The channel #2 is not opened"));
    EXPECT_TRUE(grid.Window.Sent.empty());
}

TEST(SendGrid, SendWhileOpenHandsTheFrameOverOncePerPress)
{
    TGrid grid;
    TCanSendItem* single = AddItem(grid.Window.List, cstSingle, false, 0x7A5, 2, "Probe");
    grid.Window.List.SetStandard(true);
    grid.Window.Open = true;
    grid.Panel.RefreshSendGrid();

    grid.Press(1, 1);
    ASSERT_EQ(grid.Window.Sent.size(), 1u);
    EXPECT_EQ(grid.Window.Sent[0].Id, 0x7A5u);
    EXPECT_EQ(grid.Window.Sent[0].Length, 2);
    EXPECT_TRUE(grid.Window.Sent[0].Standard);
    EXPECT_EQ(single->Count, 1);
    // A second press while the button is still down sends again.
    grid.Press(1, 1);
    EXPECT_EQ(grid.Window.Sent.size(), 2u);
    EXPECT_EQ(grid.Panel.PressedRow(), 1);
    ASSERT_TRUE(WaitUntil([&] { return grid.Panel.PressedRow() == 0; }));
    Flush();
    EXPECT_TRUE(grid.Window.Infos.empty());
    EXPECT_EQ(grid.Panel.CellText(1, 7), QStringLiteral("2"));
}

TEST(SendGrid, MovesKeepTheItemSelectedAndStopAtTheEnds)
{
    TGrid grid;
    TCanSendList& list = grid.Window.List;
    TCanSendItem* a = AddItem(list, cstSingle, false, 0xA);
    TCanSendItem* b = AddItem(list, cstSingle, false, 0xB);
    TCanSendItem* c = AddItem(list, cstSingle, false, 0xC);
    grid.Panel.RefreshSendGrid();

    grid.Panel.SelectRow(1);
    grid.Panel.btUpClick();
    EXPECT_EQ(list.GetItem(0), a);
    EXPECT_EQ(grid.Panel.SelectedRow(), 1);

    QTest::mouseClick(grid.Panel.Button2, Qt::LeftButton);
    EXPECT_EQ(list.GetItem(1), a);
    EXPECT_EQ(grid.Panel.SelectedRow(), 2);
    EXPECT_EQ(grid.Panel.CellText(2, 4), QStringLiteral("00A"));
    EXPECT_EQ(a->Tag, 1u);
    EXPECT_EQ(b->Tag, 0u);

    grid.Panel.Button2Click();
    EXPECT_EQ(list.GetItem(2), a);
    EXPECT_EQ(grid.Panel.SelectedRow(), 3);
    grid.Panel.Button2Click();
    EXPECT_EQ(list.GetItem(2), a) << "Move Down on the last row does nothing";
    EXPECT_EQ(grid.Panel.SelectedRow(), 3);

    QTest::mouseClick(grid.Panel.btUp, Qt::LeftButton);
    EXPECT_EQ(list.GetItem(1), a);
    EXPECT_EQ(list.GetItem(2), c);
    EXPECT_EQ(grid.Panel.SelectedRow(), 2);
    EXPECT_EQ(grid.Panel.CellText(2, 4), QStringLiteral("00A"));
}

TEST(SendGrid, AddEditRemoveCopyAndResetCounters)
{
    TGrid grid;
    TCanSendList& list = grid.Window.List;
    grid.Window.Extended = true;
    grid.Panel.RefreshSendGrid();

    // Cancelled add.
    QTest::mouseClick(grid.Panel.btAdd, Qt::LeftButton);
    EXPECT_EQ(grid.Dialogs, 1);
    EXPECT_EQ(list.Count(), 0);

    grid.FillDialog = [](TfmSendFrame& dialog) {
        EXPECT_FALSE(dialog.StandardId);
        EXPECT_EQ(dialog.EditMode, 0);
        dialog.cbSendType->setCurrentIndex(cstPeriodic);
        dialog.edPeriod->setText(QStringLiteral("20"));
        dialog.edId->setText(QStringLiteral("1234567"));
        dialog.edCaption->setText(QStringLiteral("New"));
    };
    grid.Panel.btAddClick();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.GetItem(0)->Frame.Id, 0x1234567u);
    EXPECT_FALSE(list.GetItem(0)->Frame.Standard);
    EXPECT_TRUE(static_cast<bool>(list.GetItem(0)->OnSend)) << "the list gave it its send handler";
    EXPECT_EQ(grid.Panel.CellText(1, 0), QStringLiteral("New"));
    EXPECT_EQ(grid.Panel.CellText(1, 4), QStringLiteral("01234567"));

    grid.FillDialog = [](TfmSendFrame& dialog) {
        EXPECT_EQ(dialog.EditMode, 1);
        dialog.edCaption->setText(QStringLiteral("Edited"));
    };
    grid.Panel.SelectRow(1);
    QTest::mouseClick(grid.Panel.btEdit, Qt::LeftButton);
    EXPECT_EQ(grid.DialogItems.back(), list.GetItem(0));
    EXPECT_EQ(list.GetItem(0)->Caption, "Edited");
    EXPECT_EQ(grid.Panel.CellText(1, 0), QStringLiteral("Edited"));

    // Copy: right after the original, inactive, count 0, selected.
    AddItem(list, cstSingle, false, 0x99, 0, "Last");
    TCanSendItem* original = list.GetItem(0);
    original->Active = true;
    original->Count = 12;
    grid.Panel.RefreshSendGrid();
    grid.Panel.SelectRow(1);
    QTest::mouseClick(grid.Panel.btCopy, Qt::LeftButton);
    ASSERT_EQ(list.Count(), 3);
    const TCanSendItem* copy = list.GetItem(1);
    EXPECT_NE(copy, original);
    EXPECT_EQ(copy->Caption, "Edited");
    EXPECT_EQ(copy->SendType, cstPeriodic);
    EXPECT_EQ(copy->Period, 20);
    EXPECT_EQ(copy->Frame.Id, 0x1234567u);
    EXPECT_FALSE(copy->Active);
    EXPECT_EQ(copy->Count, 0);
    EXPECT_EQ(list.GetItem(2)->Caption, "Last");
    EXPECT_EQ(grid.Panel.SelectedRow(), 2);
    EXPECT_EQ(grid.Panel.CellText(2, 7), QStringLiteral("0"));

    // Remove: asked first; No keeps the item.
    grid.Window.Answer = false;
    QTest::mouseClick(grid.Panel.btDelete, Qt::LeftButton);
    EXPECT_EQ(grid.Window.Questions, std::vector<QString>{QStringLiteral("Are you sure you want to remove this item?")});
    EXPECT_EQ(list.Count(), 3);
    grid.Window.Answer = true;
    grid.Panel.btDeleteClick();
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetItem(1)->Caption, "Last");
    EXPECT_EQ(grid.Panel.RowCount(), 3);

    // Reset counters: the cells follow through the count handler.
    EXPECT_EQ(grid.Panel.CellText(1, 7), QStringLiteral("12"));
    grid.Panel.Resetcounters1->trigger();
    Flush();
    EXPECT_EQ(original->Count, 0);
    EXPECT_EQ(grid.Panel.CellText(1, 7), QStringLiteral("0"));
}

TEST(SendGrid, CountChangesReachOnlyTheirOwnRow)
{
    TGrid grid;
    TCanSendItem* a = AddItem(grid.Window.List, cstPeriodic, true, 0x1);
    AddItem(grid.Window.List, cstPeriodic, true, 0x2);
    grid.Window.Channel = 1;
    grid.Panel.RefreshSendGrid();

    grid.Panel.SendCountChanged(5, 0u * 65536u + 0u); // channel 0: not shown
    grid.Panel.SendCountChanged(6, 1u * 65536u + 7u); // beyond the rows
    Flush();
    EXPECT_EQ(grid.Panel.CellText(1, 7), QStringLiteral("0"));
    EXPECT_EQ(grid.Panel.RowCount(), 3);

    grid.Panel.SendCountChanged(9, 1u * 65536u + 1u);
    EXPECT_EQ(grid.Panel.CellText(2, 7), QStringLiteral("0")) << "written on the window's thread, later";
    Flush();
    EXPECT_EQ(grid.Panel.CellText(2, 7), QStringLiteral("9"));

    // A change queued before a move names the old position: the refresh
    // after the move has read every count afresh, so it is dropped.
    a->IncCount(); // a is at row 1, count 1
    grid.Panel.SelectRow(1);
    grid.Panel.Button2Click();
    Flush();
    EXPECT_EQ(grid.Panel.CellText(1, 7), QStringLiteral("0"));
    EXPECT_EQ(grid.Panel.CellText(2, 7), QStringLiteral("1"));
}

TEST(SendGrid, CountChangesFromOtherThreadsNeverWaitForTheWindow)
{
    TGrid grid;
    TCanSendList& list = grid.Window.List;
    TCanSendItem* item = AddItem(list, cstPeriodic, true, 0x1, 0, "", 0);
    grid.Panel.RefreshSendGrid();

    // The window's thread is busy (joining) while the counts are told; a
    // handler that waited for it would never return.
    std::thread sender([item] {
        for (int i = 0; i < 1000; ++i)
            item->IncCount();
    });
    sender.join();
    Flush();
    EXPECT_EQ(grid.Panel.CellText(1, 7), QStringLiteral("1000"));

    // A scanning thread sends under the list's lock while the window removes
    // and adds items and refreshes, which takes the same lock.
    std::atomic<bool> stop{false};
    std::thread scanner([&] {
        uint32_t now = 1;
        while (!stop)
            list.SendPeriodic(now++);
    });
    for (int round = 0; round < 200; ++round) {
        AddItem(list, cstPeriodic, true, static_cast<uint32_t>(round), 0, "", 0);
        grid.Panel.RefreshSendGrid();
        QCoreApplication::processEvents();
        list.Delete(0);
        grid.Panel.RefreshSendGrid();
    }
    stop = true;
    scanner.join();
    Flush();
    ASSERT_EQ(list.Count(), 1);
    {
        std::lock_guard guard(list.Lock());
        EXPECT_EQ(grid.Panel.CellText(1, 7), QString::number(list.GetItem(0)->Count));
    }
}

TEST(SendGrid, ItemsOutliveThePanelSafely)
{
    TFakeWindow window;
    TCanSendItem* item = AddItem(window.List, cstPeriodic, true, 0x1);
    {
        TSendGridPanel panel(window.Host());
        panel.SetupSendGrid();
        panel.RefreshSendGrid();
        item->IncCount(); // queued for the panel, which goes before it is delivered
    }
    item->IncCount();
    window.List.ResetCounters();
    Flush();
    EXPECT_EQ(item->Count, 0);
}

TEST(SendGrid, DrawsHeaderChecksButtonsAndSelection)
{
    TGrid grid;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    grid.Panel.setFont(font);
    TCanSendList& list = grid.Window.List;
    AddItem(list, cstPeriodic, true, 0x123, 2, "Active periodic", 100);
    AddItem(list, cstOnRequest, false, 0x124, 8, "Idle answer");
    AddItem(list, cstSingle, false, 0x7A5, 1, "Pressed send");
    AddItem(list, cstSingle, false, 0x7A6, 0, "Released send");
    TCanSendItem* remote = AddItem(list, cstPeriodic, false, 0x10, 0, "Remote", 250);
    remote->Frame.Request = true;
    grid.Window.Open = true;
    grid.Panel.RefreshSendGrid();

    grid.Press(3, 1); // "Send" of row 3, drawn pressed for 100 ms
    ASSERT_EQ(grid.Panel.PressedRow(), 3);
    grid.Panel.SelectRow(2);
    const QImage picture = grid.Picture();
    tcmtest::SaveScreenshot(grid.Panel, "grid");

    ASSERT_FALSE(grid.Panel.CheckOnBitmap().isNull()) << "the bitmaps come from the resources";
    EXPECT_EQ(grid.Panel.CheckOffBitmap().size(), QSize(18, 18));

    // Check boxes: bitmap centred in the cell; black border, green or white inside.
    const auto bitmapOrigin = [&](int row) {
        const QRect cell = grid.CellRect(row, 1);
        const int right = cell.left() + cell.width();
        const int bottom = cell.top() + cell.height();
        return QPoint((cell.left() + right - 18) / 2, (cell.top() + bottom - 18) / 2);
    };
    const QPoint on = bitmapOrigin(1);
    EXPECT_EQ(PixelAt(picture, on), QColor(Qt::black));
    EXPECT_EQ(PixelAt(picture, on + QPoint(3, 3)), QColor(0, 255, 128));
    const QPoint off = bitmapOrigin(2);
    EXPECT_EQ(PixelAt(picture, off), QColor(Qt::black));
    EXPECT_EQ(PixelAt(picture, off + QPoint(3, 3)), QColor(Qt::white));
    EXPECT_EQ(PixelAt(picture, off + QPoint(9, 9)), QColor(Qt::white));

    // "Send" buttons: yellow while pressed, silver otherwise, blue outline.
    const QRect pressed = grid.CellRect(3, 1);
    const QRect released = grid.CellRect(4, 1);
    EXPECT_EQ(PixelAt(picture, QPoint(pressed.left() + 10, pressed.center().y())), QColor(255, 255, 0));
    EXPECT_EQ(PixelAt(picture, QPoint(released.left() + 10, released.center().y())), QColor(192, 192, 192));
    EXPECT_EQ(PixelAt(picture, QPoint(released.center().x(), released.top() + 2)), QColor(0, 0, 255));
    EXPECT_EQ(PixelAt(picture, QPoint(released.left() + 2, released.center().y())), QColor(Qt::white));

    // Selected row cyan, others white; the "Send" cell of a selected row
    // keeps the white around its button.
    EXPECT_EQ(PixelAt(picture, grid.CellRect(2, 5).topLeft() + QPoint(1, 1)), QColor(0, 255, 255));
    EXPECT_EQ(PixelAt(picture, grid.CellRect(1, 5).topLeft() + QPoint(1, 1)), QColor(Qt::white));

    // Text is drawn (dark pixels) in the caption cell, centred.
    const QRect caption = grid.CellRect(1, 0);
    int darkLeft = -1;
    int darkRight = -1;
    for (int x = caption.left(); x < caption.left() + caption.width(); ++x)
        for (int y = caption.top(); y < caption.top() + caption.height(); ++y)
            if (picture.pixelColor(x, y).lightness() < 100) {
                if (darkLeft < 0)
                    darkLeft = x;
                darkRight = x;
            }
    ASSERT_GE(darkLeft, 0);
    const int textCentre = (darkLeft + darkRight) / 2;
    EXPECT_NEAR(textCentre, caption.left() + caption.width() / 2, 3);

    // Header silver.
    const QImage header = grid.Panel.sgSend->horizontalHeader()->grab().toImage();
    EXPECT_EQ(header.pixelColor(3, 3), QColor(192, 192, 192));

    ASSERT_TRUE(WaitUntil([&] { return grid.Panel.PressedRow() == 0; }));
    const QImage after = grid.Picture();
    EXPECT_EQ(PixelAt(after, QPoint(pressed.left() + 10, pressed.center().y())), QColor(192, 192, 192));
}

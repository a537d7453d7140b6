// The transmit grid: rows from the list, the mouse rules of the "Active"
// column, the "Send" button and its timer, the commands beside the grid, count
// updates from other threads, and how the cells are drawn.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "adapter/GuiTestSupport.h"
#include "app/sendgrid/SendGridPanel.h"
#include "transmit/CanSendList.h"
#include "transmit/SendFrameForm.h"

namespace {

// Processes events until `done` holds or a generous limit has passed.
bool WaitUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

void Flush()
{
    QCoreApplication::processEvents();
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

// A window stand-in: a real list whose send handler records the frames, the
// channel's state, and the boxes it was asked to show.
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
        List.SetOnSend([this](const TCanFrame& frame) {
            Sent.push_back(frame);
            return true;
        });
    }

    TSendGridHost Host()
    {
        return {[this]() { return HasList ? &List : nullptr; },
                [this] { return Channel; },
                [this] { return Extended; },
                [this] { return Open; },
                [this] { return Multi; },
                [this](const QString& text) { Infos.push_back(text); },
                [this](const QString& text) {
                    Questions.push_back(text);
                    return Answer;
                },
                {}};
    }
};

// The panel set up as the window does, shown offscreen; dialogs are recorded
// and filled in by FillDialog (none: cancelled).
struct TGrid {
    TFakeWindow W;
    TSendGridPanel Panel;
    std::vector<TfmSendFrame*> Dialogs;
    std::vector<TCanSendItem*> DialogItems;
    std::function<void(TfmSendFrame&)> FillDialog;

    TGrid() : Panel(W.Host())
    {
        Panel.RunDialog = [this](TfmSendFrame& dialog) {
            Dialogs.push_back(&dialog);
            DialogItems.push_back(dialog.Item);
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
    QRect Cell(int row, int column) const
    {
        return Panel.sgSend->visualRect(Panel.sgSend->model()->index(row - 1, column));
    }
    void Press(int row, int column) { QTest::mouseClick(Viewport(), Qt::LeftButton, {}, Cell(row, column).center()); }
    // As the window system delivers it: press, release, double click, release.
    static void DoubleClick(QWidget* target, const QPoint& at)
    {
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
        QTest::mouseDClick(target, Qt::LeftButton, {}, at);
        QTest::mouseRelease(target, Qt::LeftButton, {}, at);
    }
    QString Text(int row, int column) const { return Panel.CellText(row, column); }
};

} // namespace

TEST(SendGrid, ColumnsAndControls)
{
    TGrid g;
    EXPECT_EQ(g.Panel.objectName(), QStringLiteral("TransmitPanel"));
    EXPECT_EQ(g.Panel.findChild<QTableWidget*>(QStringLiteral("sgSend")), g.Panel.sgSend);
    const char* titles[] = {"Mnemonic caption", "Active", "Type", "Period", "ID", "DLC", "Data", "Count"};
    const int widths[] = {116, 64, 64, 48, 64, 30, 136, 48};
    ASSERT_EQ(g.Panel.sgSend->columnCount(), 8);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(g.Text(0, c), QString::fromLatin1(titles[c]));
        EXPECT_EQ(g.Panel.sgSend->columnWidth(c), widths[c]);
    }
    EXPECT_EQ(g.Panel.sgSend->horizontalHeader()->height(), 22);
    for (const char* name : {"Panel3", "btAdd", "btEdit", "btDelete", "btCopy", "btUp", "Button2"})
        EXPECT_NE(g.Panel.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(g.Panel.Button2->geometry(), QRect(8, 160, 75, 25));
    EXPECT_EQ(g.Panel.Resetcounters1->text(), QStringLiteral("Reset counters"));
    EXPECT_EQ(g.Panel.tmSendUpdate->interval(), 100);
    EXPECT_TRUE(g.Panel.tmSendUpdate->isSingleShot());
}

TEST(SendGrid, EmptyListShowsOneBlankRowThatIgnoresEverything)
{
    TGrid g;
    AddItem(g.W.List, cstPeriodic, true, 0x123, 2, "Gone");
    g.Panel.RefreshSendGrid();
    g.W.List.Delete(0);
    g.Panel.RefreshSendGrid();
    EXPECT_EQ(g.Panel.RowCount(), 2);
    for (int c = 0; c < 8; ++c) {
        EXPECT_TRUE(g.Text(1, c).isEmpty()) << c;
        g.Press(1, c);
    }
    TGrid::DoubleClick(g.Viewport(), g.Cell(1, 4).center());
    g.Panel.btEditClick();
    g.Panel.btDeleteClick();
    g.Panel.btCopyClick();
    g.Panel.btUpClick();
    g.Panel.Button2Click();
    EXPECT_EQ(g.Panel.ClickRow(), -1);
    EXPECT_FALSE(g.Panel.tmSendUpdate->isActive());
    EXPECT_TRUE(g.Dialogs.empty());
    EXPECT_TRUE(g.W.Questions.empty());
    EXPECT_EQ(g.W.List.Count(), 0);
    const QImage picture = g.Viewport()->grab().toImage();
    EXPECT_EQ(picture.pixelColor(g.Cell(1, 3).center()), QColor(Qt::white)) << "blank even when selected";
}

TEST(SendGrid, RowTextsAndIdentifierWidths)
{
    TGrid g;
    AddItem(g.W.List, cstPeriodic, true, 0x7FF, 2, "Engine", 100);
    AddItem(g.W.List, cstSingle, false, 0x5, 0, "", 250)->Count = 4;
    AddItem(g.W.List, cstOnRequest, false, 0x12345, 8, "Wide", 77);
    AddItem(g.W.List, cstPeriodic, false, 0x10, 3, "Rtr", 5)->Frame.Request = true;
    g.W.Channel = 2;
    g.Panel.RefreshSendGrid();

    ASSERT_EQ(g.Panel.RowCount(), 5);
    const char* expected[4][8] = {
        {"Engine", "1", "Periodic", "100", "7FF", "2", "01 02 ", "0"},
        {"", "0", "Single", "", "005", "0", "", "4"},
        {"Wide", "0", "OnRequest", "", "12345", "8", "01 02 03 04 05 06 07 08 ", "0"},
        {"Rtr", "0", "Periodic", "5", "010", "3", "Request", "0"},
    };
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 8; ++c)
            EXPECT_EQ(g.Text(r + 1, c), QString::fromLatin1(expected[r][c])) << r << "," << c;
        EXPECT_EQ(g.W.List.GetItem(r)->Tag, 2u * 65536u + static_cast<uint32_t>(r));
    }
    g.W.Extended = true;
    g.Panel.RefreshSendGrid();
    EXPECT_EQ(g.Text(2, 4), QStringLiteral("00000005"));
    EXPECT_EQ(g.Text(3, 4), QStringLiteral("00012345"));

    g.W.HasList = false;
    g.Panel.RefreshSendGrid();
    EXPECT_EQ(g.Text(1, 0), QStringLiteral("Engine")) << "no list: the grid stays";
}

TEST(SendGrid, ActiveCellMouseRules)
{
    TGrid g;
    TCanSendItem* periodic = AddItem(g.W.List, cstPeriodic, false, 0x100, 1, "P", 100);
    TCanSendItem* single = AddItem(g.W.List, cstSingle, false, 0x200, 1, "S");
    g.Panel.RefreshSendGrid();

    g.Press(1, 1);
    EXPECT_TRUE(periodic->Active);
    EXPECT_EQ(g.Text(1, 1), QStringLiteral("1"));
    EXPECT_EQ(g.Panel.ClickRow(), -1);
    g.Press(1, 1);
    EXPECT_FALSE(periodic->Active);
    EXPECT_EQ(g.Text(1, 1), QStringLiteral("0"));

    // The right button toggles as well, and the pop-up menu opens (the
    // window system's path, which raises the context menu).
    QWindow* window = g.Panel.window()->windowHandle();
    const QPoint at = g.Viewport()->mapTo(g.Panel.window(), g.Cell(1, 1).center());
    QTest::mousePress(window, Qt::RightButton, {}, at);
    EXPECT_TRUE(periodic->Active);
    EXPECT_TRUE(WaitUntil([&] { return g.Panel.pmSendList->isVisible(); }));
    g.Panel.pmSendList->hide();
    QTest::mouseRelease(window, Qt::RightButton, {}, at);
    g.Press(1, 1);

    // A double click on "Active" is two presses and no dialog; elsewhere on a
    // data row it opens the dialog for that row; on the header nothing.
    TGrid::DoubleClick(g.Viewport(), g.Cell(1, 1).center());
    EXPECT_FALSE(periodic->Active);
    g.W.Open = true;
    TGrid::DoubleClick(g.Viewport(), g.Cell(2, 1).center());
    EXPECT_EQ(g.W.Sent.size(), 2u);
    EXPECT_TRUE(g.Dialogs.empty());
    TGrid::DoubleClick(g.Viewport(), g.Cell(2, 6).center());
    ASSERT_EQ(g.DialogItems.size(), 1u);
    EXPECT_EQ(g.DialogItems[0], single);
    EXPECT_EQ(g.Panel.ClickRow(), 2);
    TGrid::DoubleClick(g.Panel.sgSend->horizontalHeader()->viewport(), QPoint(40, 10));
    EXPECT_EQ(g.Panel.ClickRow(), 0);
    EXPECT_EQ(g.DialogItems.size(), 1u);
}

TEST(SendGrid, SendButtonSendsOnlyWhileOpenAndReportsAfterTheTimer)
{
    TGrid g;
    TCanSendItem* single = AddItem(g.W.List, cstSingle, false, 0x7A5, 2, "Probe");
    g.W.List.SetStandard(true);
    g.Panel.RefreshSendGrid();

    g.Press(1, 1);
    EXPECT_TRUE(g.W.Sent.empty());
    EXPECT_EQ(g.Panel.PressedRow(), 1);
    EXPECT_TRUE(g.W.Infos.empty()) << "the message waits for the timer";
    ASSERT_TRUE(WaitUntil([&] { return !g.W.Infos.empty(); }));
    EXPECT_EQ(g.W.Infos, std::vector<QString>{QStringLiteral("No connection with CanBus adapter")});
    EXPECT_EQ(g.Panel.PressedRow(), 0);
    EXPECT_EQ(single->Count, 0);

    g.W.Multi = true;
    g.W.Channel = 1;
    g.Panel.RefreshSendGrid();
    g.Press(1, 1);
    ASSERT_TRUE(WaitUntil([&] { return g.W.Infos.size() == 2; }));
    EXPECT_EQ(g.W.Infos[1], QStringLiteral("The channel #2 is not opened"));
    EXPECT_TRUE(g.W.Sent.empty());

    g.W.Open = true;
    g.Press(1, 1);
    g.Press(1, 1); // while still drawn pressed: sends again
    ASSERT_EQ(g.W.Sent.size(), 2u);
    EXPECT_EQ(g.W.Sent[0].Id, 0x7A5u);
    EXPECT_TRUE(g.W.Sent[0].Standard);
    ASSERT_TRUE(WaitUntil([&] { return g.Panel.PressedRow() == 0; }));
    Flush();
    EXPECT_EQ(g.W.Infos.size(), 2u);
    EXPECT_EQ(g.Text(1, 7), QStringLiteral("2"));
}

TEST(SendGrid, CommandsAndTheSelection)
{
    TGrid g;
    TCanSendList& list = g.W.List;
    g.W.Extended = true;
    g.Panel.RefreshSendGrid();

    QTest::mouseClick(g.Panel.btAdd, Qt::LeftButton); // cancelled
    EXPECT_EQ(list.Count(), 0);
    g.FillDialog = [](TfmSendFrame& dialog) {
        EXPECT_FALSE(dialog.StandardId);
        dialog.cbSendType->setCurrentIndex(cstPeriodic);
        dialog.edId->setText(QStringLiteral("1234567"));
        dialog.edCaption->setText(QStringLiteral("New"));
    };
    g.Panel.btAddClick();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_TRUE(static_cast<bool>(list.GetItem(0)->OnSend));
    EXPECT_EQ(g.Text(1, 4), QStringLiteral("01234567"));

    g.FillDialog = [](TfmSendFrame& dialog) { dialog.edCaption->setText(QStringLiteral("Edited")); };
    QTest::mouseClick(g.Panel.btEdit, Qt::LeftButton);
    EXPECT_EQ(g.Dialogs.back()->EditMode, 1);
    EXPECT_EQ(g.Text(1, 0), QStringLiteral("Edited"));

    // Copy: right after the original, inactive, count 0, selected.
    AddItem(list, cstSingle, false, 0x99, 0, "Last");
    TCanSendItem* original = list.GetItem(0);
    original->Active = true;
    original->Count = 12;
    g.Panel.RefreshSendGrid();
    g.Panel.SelectRow(1);
    QTest::mouseClick(g.Panel.btCopy, Qt::LeftButton);
    ASSERT_EQ(list.Count(), 3);
    const TCanSendItem* copy = list.GetItem(1);
    EXPECT_EQ(copy->Caption, "Edited");
    EXPECT_EQ(copy->Frame.Id, 0x1234567u);
    EXPECT_FALSE(copy->Active);
    EXPECT_EQ(copy->Count, 0);
    EXPECT_EQ(list.GetItem(2)->Caption, "Last");
    EXPECT_EQ(g.Panel.SelectedRow(), 2);

    // Moves: the selection follows; nothing happens at the ends.
    g.Panel.SelectRow(1);
    g.Panel.btUpClick();
    EXPECT_EQ(list.GetItem(0), original);
    QTest::mouseClick(g.Panel.Button2, Qt::LeftButton);
    EXPECT_EQ(list.GetItem(1), original);
    EXPECT_EQ(g.Panel.SelectedRow(), 2);
    EXPECT_EQ(original->Tag, 1u);
    g.Panel.Button2Click();
    g.Panel.Button2Click();
    EXPECT_EQ(list.GetItem(2), original);
    EXPECT_EQ(g.Panel.SelectedRow(), 3);
    EXPECT_EQ(g.Text(3, 7), QStringLiteral("12"));

    // Remove: asked first; No keeps the item.
    g.W.Answer = false;
    QTest::mouseClick(g.Panel.btDelete, Qt::LeftButton);
    EXPECT_EQ(g.W.Questions, std::vector<QString>{QStringLiteral("Are you sure you want to remove this item?")});
    EXPECT_EQ(list.Count(), 3);
    g.W.Answer = true;
    g.Panel.SelectRow(2);
    g.Panel.btDeleteClick();
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetItem(1), original);

    g.Panel.Resetcounters1->trigger();
    Flush();
    EXPECT_EQ(original->Count, 0);
    EXPECT_EQ(g.Text(2, 7), QStringLiteral("0"));
}

TEST(SendGrid, CountChangesReachOnlyTheirRowAndNeverWait)
{
    TGrid g;
    TCanSendList& list = g.W.List;
    TCanSendItem* a = AddItem(list, cstPeriodic, true, 0x1);
    AddItem(list, cstPeriodic, true, 0x2);
    g.W.Channel = 1;
    g.Panel.RefreshSendGrid();

    g.Panel.SendCountChanged(5, 0u * 65536u + 0u); // another channel
    g.Panel.SendCountChanged(6, 1u * 65536u + 7u); // beyond the rows
    g.Panel.SendCountChanged(9, 1u * 65536u + 1u);
    EXPECT_EQ(g.Text(2, 7), QStringLiteral("0")) << "written later, on the window's thread";
    Flush();
    EXPECT_EQ(g.Text(1, 7), QStringLiteral("0"));
    EXPECT_EQ(g.Text(2, 7), QStringLiteral("9"));

    // Queued before a move, a change names the old position; the refresh
    // after the move has read every count afresh, so it is dropped.
    a->IncCount();
    g.Panel.SelectRow(1);
    g.Panel.Button2Click();
    Flush();
    EXPECT_EQ(g.Text(1, 7), QStringLiteral("0"));
    EXPECT_EQ(g.Text(2, 7), QStringLiteral("1"));

    // Told from another thread while the window's thread is busy joining it:
    // a handler that waited for the window would never return.
    std::thread sender([a] {
        for (int i = 0; i < 1000; ++i)
            a->IncCount();
    });
    sender.join();
    Flush();
    EXPECT_EQ(g.Text(2, 7), QStringLiteral("1001"));

    // A scan sends under the list's lock while the window deletes, adds and
    // refreshes under the same lock.
    std::atomic<bool> stop{false};
    std::thread scanner([&] {
        for (uint32_t now = 1; !stop; ++now)
            list.SendPeriodic(now);
    });
    for (int round = 0; round < 200; ++round) {
        AddItem(list, cstPeriodic, true, 0x100, 0, "", 0);
        g.Panel.RefreshSendGrid();
        QCoreApplication::processEvents();
        list.Delete(0);
        g.Panel.RefreshSendGrid();
    }
    stop = true;
    scanner.join();
    Flush();
    EXPECT_EQ(g.Text(2, 7), QString::number(list.GetItem(1)->Count));
}

TEST(SendGrid, ItemsOutliveThePanelSafely)
{
    TFakeWindow window;
    TCanSendItem* item = AddItem(window.List, cstPeriodic, true, 0x1);
    {
        TSendGridPanel panel(window.Host());
        panel.RefreshSendGrid();
        item->IncCount(); // queued for a panel that goes before delivery
    }
    item->IncCount();
    Flush();
    EXPECT_EQ(item->Count, 2);
}

TEST(SendGrid, DrawsChecksButtonsSelectionAndText)
{
    TGrid g;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    g.Panel.setFont(font);
    AddItem(g.W.List, cstPeriodic, true, 0x123, 2, "Active periodic", 100);
    AddItem(g.W.List, cstOnRequest, false, 0x124, 8, "Idle answer");
    AddItem(g.W.List, cstSingle, false, 0x7A5, 1, "Pressed send");
    AddItem(g.W.List, cstSingle, false, 0x7A6, 0, "Released send");
    AddItem(g.W.List, cstPeriodic, false, 0x10, 0, "Remote", 250)->Frame.Request = true;
    g.W.Open = true;
    g.Panel.RefreshSendGrid();
    g.Press(3, 1);
    ASSERT_EQ(g.Panel.PressedRow(), 3);
    g.Panel.SelectRow(2);
    const QImage p = g.Viewport()->grab().toImage();
    tcmtest::SaveScreenshot(g.Panel, "grid");

    ASSERT_EQ(g.Panel.CheckOffBitmap().size(), QSize(18, 18)) << "bitmaps from the resources";
    const auto bitmapAt = [&](int row) {
        const QRect c = g.Cell(row, 1);
        return QPoint((2 * c.left() + c.width() - 18) / 2, (2 * c.top() + c.height() - 18) / 2);
    };
    EXPECT_EQ(p.pixelColor(bitmapAt(1)), QColor(Qt::black));
    EXPECT_EQ(p.pixelColor(bitmapAt(1) + QPoint(3, 3)), QColor(0, 255, 128));
    EXPECT_EQ(p.pixelColor(bitmapAt(2)), QColor(Qt::black));
    EXPECT_EQ(p.pixelColor(bitmapAt(2) + QPoint(3, 3)), QColor(Qt::white));

    const QRect pressed = g.Cell(3, 1);
    const QRect released = g.Cell(4, 1);
    EXPECT_EQ(p.pixelColor(pressed.left() + 10, pressed.center().y()), QColor(255, 255, 0));
    EXPECT_EQ(p.pixelColor(released.left() + 10, released.center().y()), QColor(192, 192, 192));
    EXPECT_EQ(p.pixelColor(released.center().x(), released.top() + 2), QColor(0, 0, 255));
    EXPECT_EQ(p.pixelColor(released.left() + 2, released.center().y()), QColor(Qt::white));

    EXPECT_EQ(p.pixelColor(g.Cell(2, 5).topLeft() + QPoint(1, 1)), QColor(0, 255, 255)) << "selected row";
    EXPECT_EQ(p.pixelColor(g.Cell(1, 5).topLeft() + QPoint(1, 1)), QColor(Qt::white));
    const QImage header = g.Panel.sgSend->horizontalHeader()->grab().toImage();
    EXPECT_EQ(header.pixelColor(3, 3), QColor(192, 192, 192));

    // Caption text: dark pixels centred in the cell.
    const QRect caption = g.Cell(1, 0);
    int left = caption.right();
    int right = caption.left();
    for (int x = caption.left(); x <= caption.right(); ++x)
        for (int y = caption.top(); y <= caption.bottom(); ++y)
            if (p.pixelColor(x, y).lightness() < 100) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_LT(left, right);
    EXPECT_NEAR((left + right) / 2, caption.center().x(), 3);

    ASSERT_TRUE(WaitUntil([&] { return g.Panel.PressedRow() == 0; }));
    const QImage after = g.Viewport()->grab().toImage();
    EXPECT_EQ(after.pixelColor(pressed.left() + 10, pressed.center().y()), QColor(192, 192, 192));
}

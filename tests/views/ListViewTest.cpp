#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTest>

#include "../adapter/GuiTestSupport.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"
#include "ListViewTestSupport.h"

using tcmtest::ExpectViewShowsTable;
using tcmtest::Frame;
using tcmtest::LineTexts;

TEST(ListViewFrameTable, ReportStyleWithFiveColumns)
{
    TListViewFrameTable view;
    EXPECT_FALSE(view.rootIsDecorated());
    EXPECT_TRUE(view.uniformRowHeights());
    EXPECT_FALSE(view.isSortingEnabled());
    ASSERT_EQ(view.columnCount(), 5);
    const char* titles[] = {"ID", "DLC", "Data", "Count", "Period"};
    const int widths[] = {72, 36, 240, 60, 60};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(view.headerItem()->text(c), QString::fromLatin1(titles[c]));
        EXPECT_EQ(view.columnWidth(c), widths[c]);
    }
    EXPECT_EQ(view.font().family(), QStringLiteral("Lucida Console"));
    EXPECT_EQ(view.font().pixelSize(), 13);
    EXPECT_EQ(view.font().styleHint(), QFont::Monospace);
    EXPECT_EQ(view.Table(), nullptr);
}

TEST(ListViewFrameTable, CellTexts)
{
    TTarvenixTableItem row(0x12, true, false);
    TCanFrame frame = Frame(0x12, true, false, {0x0A, 0x0B, 0x0C});
    row.Update(frame);
    const TFrameRowView standard = TFrameRowView::From(row);
    EXPECT_EQ(standard.IdText(), QStringLiteral("012"));
    EXPECT_EQ(standard.LengthText(), QStringLiteral("3"));
    EXPECT_EQ(standard.DataText(), QStringLiteral("0A 0B 0C"));
    EXPECT_EQ(standard.CountText(), QStringLiteral("1"));
    EXPECT_EQ(standard.ViewKey(), 0x12u);

    TTarvenixTableItem extended(0x12, false, false);
    EXPECT_EQ(TFrameRowView::From(extended).IdText(), QStringLiteral("00000012"));
    EXPECT_EQ(TFrameRowView::From(extended).DataText(), QString()); // length 0
    EXPECT_EQ(TFrameRowView::From(extended).ViewKey(), 0x80000012u);

    TTarvenixTableItem remote(0x1FFFFFFF, false, true);
    remote.Update(Frame(0x1FFFFFFF, false, true, {1, 2, 3, 4, 5, 6, 7, 8}));
    const TFrameRowView request = TFrameRowView::From(remote);
    EXPECT_EQ(request.IdText(), QStringLiteral("1FFFFFFF"));
    EXPECT_EQ(request.DataText(), QStringLiteral("Request"));
    EXPECT_EQ(request.LengthText(), QStringLiteral("8"));
    EXPECT_EQ(request.ViewKey(), 0xDFFFFFFFu);

    TTarvenixTableItem full(0x7FF, true, false);
    full.Update(Frame(0x7FF, true, false, {0x00, 0xFF, 0x10, 0x01, 0xA5, 0x5A, 0xC3, 0x3C}));
    EXPECT_EQ(TFrameRowView::From(full).IdText(), QStringLiteral("7FF"));
    EXPECT_EQ(TFrameRowView::From(full).DataText(), QStringLiteral("00 FF 10 01 A5 5A C3 3C"));
}

TEST(ListViewFrameTable, FollowsTheTableOnTheWindowThread)
{
    TTarvenixTable table;
    TListViewFrameTable view;
    view.SetTable(&table);
    EXPECT_EQ(view.Table(), &table);

    table.AddFrame(Frame(0x300, true, false, {1}, 1000));
    table.AddFrame(Frame(0x100, true, false, {2, 3}, 1000));
    table.AddFrame(Frame(0x12, false, false, {}, 1000)); // extended 0x12 sits below standard 0x12
    table.AddFrame(Frame(0x12, true, false, {4}, 1000));
    table.AddFrame(Frame(0x12, true, true, {}, 1000)); // remote row of 0x12 sits above its data row
    ExpectViewShowsTable(view, table);
    ASSERT_EQ(view.LineCount(), 5);
    EXPECT_EQ(view.Line(0)->text(0), QStringLiteral("012"));
    EXPECT_EQ(view.Line(0)->text(2), QStringLiteral("Request"));
    EXPECT_EQ(view.Line(1)->text(0), QStringLiteral("012"));
    EXPECT_EQ(view.Line(2)->text(0), QStringLiteral("00000012"));

    // Later frames of an identifier rewrite only that line's cells.
    QTreeWidgetItem* line100 = view.Line(3);
    table.AddFrame(Frame(0x100, true, false, {9, 8, 7, 6}, 1010));
    table.AddFrame(Frame(0x100, true, false, {5}, 1030)); // period 10, then 20/8 + 10 - 10/8
    EXPECT_EQ(view.Line(3), line100);
    EXPECT_EQ(LineTexts(view, 3), (std::vector<std::string>{"100", "1", "05", "3", "11"}));
    ExpectViewShowsTable(view, table);

    table.Clear();
    EXPECT_EQ(view.LineCount(), 0);
    table.AddFrame(Frame(0x55, true, false, {1}));
    ExpectViewShowsTable(view, table);
}

TEST(ListViewFrameTable, ChangeIsAppliedOnlyToTheLineOfThatRow)
{
    TTarvenixTable table;
    TListViewFrameTable view;
    view.SetTable(&table);
    table.AddFrame(Frame(0x10, true, false, {1}));
    table.AddFrame(Frame(0x20, true, false, {2}));
    const auto before = std::vector<std::vector<std::string>>{LineTexts(view, 0), LineTexts(view, 1)};

    TTarvenixTableItem other(0x30, true, false);
    other.Update(Frame(0x30, true, false, {7, 7}));
    view.RowChanged(other, 0, false); // line 0 shows another row
    view.RowChanged(other, 2, false); // no line there
    view.RowChanged(other, -1, false);
    TTarvenixTableItem extended10(0x10, false, false); // same Id, other identifier format
    extended10.Update(Frame(0x10, false, false, {3}));
    view.RowChanged(extended10, 0, false);
    EXPECT_EQ(LineTexts(view, 0), before[0]);
    EXPECT_EQ(LineTexts(view, 1), before[1]);

    // A new row goes in at the reported position, whatever the lines are.
    view.RowChanged(other, 1, true);
    ASSERT_EQ(view.LineCount(), 3);
    EXPECT_EQ(LineTexts(view, 1)[0], "030");
    EXPECT_EQ(view.Line(1)->ViewKey, 0x30u);
    EXPECT_EQ(LineTexts(view, 2), before[1]);
    view.RowChanged(other, 0, false); // line 0 still belongs to 0x10
    EXPECT_EQ(LineTexts(view, 0), before[0]);
    view.RowChanged(other, 1, false);
    EXPECT_EQ(LineTexts(view, 1), (std::vector<std::string>{"030", "2", "07 07", "1", "0"}));
    // A position past the end appends rather than losing the line.
    view.RowChanged(other, 10, true);
    EXPECT_EQ(view.LineCount(), 4);

    // A rebuild puts the lines back in step with the table.
    table.Rebuild();
    ExpectViewShowsTable(view, table);
    view.Cleared();
    EXPECT_EQ(view.LineCount(), 0);
    view.RowsRebuild();
    ExpectViewShowsTable(view, table);
}

TEST(ListViewFrameTable, DetachedViewNoLongerFollows)
{
    TTarvenixTable first;
    TTarvenixTable second;
    TListViewFrameTable view;
    view.SetTable(&first);
    first.AddFrame(Frame(0x1, true, false, {1}));
    ASSERT_EQ(view.LineCount(), 1);

    view.SetTable(nullptr);
    EXPECT_EQ(view.Table(), nullptr);
    EXPECT_EQ(view.LineCount(), 1); // lines stay until the next rebuild
    first.AddFrame(Frame(0x2, true, false, {2}));
    first.AddFrame(Frame(0x1, true, false, {3}));
    first.Clear();
    EXPECT_EQ(view.LineCount(), 1);
    EXPECT_EQ(LineTexts(view, 0)[2], "01");

    first.AddFrame(Frame(0x7, true, false, {7}));
    view.SetTable(&second);
    second.AddFrame(Frame(0x3, true, false, {3}));
    first.AddFrame(Frame(0x4, true, false, {4}));
    first.Rebuild();
    ASSERT_EQ(view.LineCount(), 2);
    second.Rebuild();
    ExpectViewShowsTable(view, second);

    // A destroyed view has left the table's hooks.
    auto* temporary = new TListViewFrameTable;
    temporary->SetTable(&first);
    delete temporary;
    first.AddFrame(Frame(0x5, true, false, {5}));
    first.Clear();
    first.Rebuild();
}

TEST(ListViewFrameTable, Screenshot)
{
    TTarvenixTable table;
    TListViewFrameTable view;
    view.resize(520, 200);
    view.SetTable(&table);
    table.AddFrame(Frame(0x12, true, false, {0x0A, 0x0B, 0x0C}, 100));
    table.AddFrame(Frame(0x12, true, false, {0x0A, 0x0B, 0x0D}, 120));
    table.AddFrame(Frame(0x12, false, false, {1, 2, 3, 4, 5, 6, 7, 8}, 100));
    table.AddFrame(Frame(0x7A5, true, true, {}, 100));
    table.AddFrame(Frame(0x1ABCDEF0, false, false, {0xFF, 0xEE}, 100));
    view.show();
    // The widest texts fit their columns.
    const QFontMetrics metrics(view.font());
    EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("1ABCDEF0")), view.columnWidth(0));
    EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("00 00 00 00 00 00 00 00")), view.columnWidth(2));
    tcmtest::SaveScreenshot(view, "table_view");
}

// Changed cells are repainted at most once per display refresh: after a burst
// of changes mixed with scrolling and new lines, what the window shows (its backing store)
// is what a fresh rendering of the view shows, every changed cell included.
TEST(ListViewFrameTable, ScreenShowsTheNewestValuesAfterPacedRepaints)
{
    TTarvenixTable table;
    TListViewFrameTable view;
    view.resize(520, 200);
    view.SetTable(&table);
    for (uint32_t id = 0; id < 60; ++id)
        table.AddFrame(Frame(id, true, false, {1}, 0));
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QTest::qWait(50);
    const auto onScreen = [&view] {
        return view.screen()->grabWindow(view.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    for (int step = 1; step <= 40; ++step) {
        // Lines near the top of what is shown change often; now and then the view scrolls.
        const int first = view.indexAt(QPoint(0, 0)).row();
        for (int k = 0; k < 4; ++k)
            table.AddFrame(Frame(static_cast<uint32_t>(first + (step * 7 + k) % 8), true, false,
                                 {static_cast<uint8_t>(step), static_cast<uint8_t>(k)},
                                 static_cast<uint32_t>(step * 10)));
        if (step % 9 == 0)
            view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + 3);
        if (step % 5 == 0) // a new line among those shown moves the ones below it
            table.AddFrame(Frame(static_cast<uint32_t>(first + step % 4), false, false, {7}, 0));
        QTest::qWait(step % 3 == 0 ? 4 : 0);
    }
    const QImage fresh = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(tcmtest::WaitFor([&] { return onScreen() == fresh; }, 2000))
        << "the screen still shows older values of some cells";
}

// The view's own cell painting draws exactly the pixels the style draws for
// the same cells: identifiers, lengths, data of every length, "Request",
// counts and periods, with a selected line and a focused one among them.
TEST(ListViewFrameTable, CellsLookAsTheStyleDrawsThem)
{
    TTarvenixTable table;
    TListViewFrameTable view;
    view.resize(520, 260);
    view.SetTable(&table);
    for (uint32_t n = 0; n < 12; ++n) {
        std::vector<uint8_t> bytes;
        for (uint32_t b = 0; b < n % 9; ++b)
            bytes.push_back(static_cast<uint8_t>(0x1F * (n + b)));
        TCanFrame frame = Frame(0x7A0 + n * 0x3311, n % 2 == 0, n == 5, {}, 1000 * n);
        frame.Length = static_cast<int32_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), frame.Data);
        for (uint32_t k = 0; k <= n; ++k) {
            frame.Time += 37 * k;
            table.AddFrame(frame);
        }
    }
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.setCurrentItem(view.Line(3));
    const QImage own = view.grab().toImage();
    view.setItemDelegate(new QStyledItemDelegate(&view));
    const QImage styled = view.grab().toImage();
    EXPECT_EQ(own, styled);
    if (own != styled) {
        own.save(QString::fromStdString(::testing::TempDir() + "cells_own.png"));
        styled.save(QString::fromStdString(::testing::TempDir() + "cells_styled.png"));
    }
}
